#include "app/OptionsDlg.h"

void COptionsDlg::LoadSettings()
{
    m_bWithArtist = 1;
}

void COptionsDlg::Run(wxWindow* parent)
{
    (void)parent;
}
