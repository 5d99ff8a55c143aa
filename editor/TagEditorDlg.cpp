#include "editor/TagEditorDlg.h"

#include "app/Display.h"

#include <wx/dialog.h>

void CTagEditorDlg::Create(wxWindow* parent)
{
    m_wnd = new wxDialog(parent, 149, "ID3v1 Editor", wxDefaultPosition, wxDefaultSize,
                         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
    m_wnd->SetClientSize(m_wnd->ConvertDialogToPixels(wxSize(223, 167)));
    // Closing only hides: the window lives as long as its owner.
    m_wnd->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Close(); });
}

void CTagEditorDlg::Detach()
{
    m_wnd = nullptr;
}

void CTagEditorDlg::Reset()
{
    m_row = -1;
    m_player.Reset();
}

void CTagEditorDlg::ShowTag(const std::string& path)
{
    m_path = path;
}

bool CTagEditorDlg::IsVisible() const
{
    return m_wnd && m_wnd->IsShown();
}

void CTagEditorDlg::Show()
{
    if (m_wnd)
    {
        m_wnd->Show();
        m_wnd->Raise();
    }
}

void CTagEditorDlg::Hide()
{
    if (m_wnd)
        m_wnd->Hide();
}

void CTagEditorDlg::Close()
{
    m_player.StopPlayback();
    m_isOpen = 0;
    Hide();
}

void CTagEditorDlg::Move(const wxPoint& topLeft)
{
    if (m_wnd)
        m_wnd->Move(topLeft);
}
