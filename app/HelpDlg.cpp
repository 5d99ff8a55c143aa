#include "app/HelpDlg.h"

#include <wx/dialog.h>

void CInfoWindow::CreateWindow(wxWindow* parent, int id, const char* caption, int widthDu, int heightDu)
{
    m_wnd = new wxDialog(parent, id, caption, wxDefaultPosition, wxDefaultSize,
                         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
    m_wnd->SetFont(wxFont(10, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    m_wnd->SetClientSize(m_wnd->ConvertDialogToPixels(wxSize(widthDu, heightDu)));
    m_wnd->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Hide(); });
}

bool CInfoWindow::IsVisible() const
{
    return m_wnd && m_wnd->IsShown();
}

void CInfoWindow::Show()
{
    if (m_wnd)
    {
        m_wnd->Show();
        m_wnd->Raise();
    }
}

void CInfoWindow::Hide()
{
    if (m_wnd)
        m_wnd->Hide();
}

void CInfoWindow::Move(const wxPoint& topLeft)
{
    if (m_wnd)
        m_wnd->Move(topLeft);
}

void CHelpDlg::Create(wxWindow* parent)
{
    CreateWindow(parent, 151, "Mp3 Tavoly - Help", 311, 265);
}

void CHowToDlg::Create(wxWindow* parent)
{
    CreateWindow(parent, 152, "Mp3 Tavoly - How to use", 283, 243);
}
