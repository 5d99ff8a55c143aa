// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/OptionsDlg.h"

#include "app/Display.h"
#include "app/Ids.h"
#include "app/TextFit.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/stockitem.h>

enum
{
    IDC_OPTIONS_CANCEL = 2,
    IDC_WITHARTIST = 1058,
    IDC_FROMID3V1 = 1059,
    IDC_FROMID3V2 = 1060,
};

COptionsWindow::COptionsWindow(wxWindow* parent)
    : wxDialog(parent, IDD_OPTIONS, TrUi("Options"), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX)
{
    // Dialog units follow this font.
    SetFont(wxFont(10, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    SetClientSize(ConvertDialogToPixels(wxSize(161, 97)));

    auto rect = [this](int x, int y, int w, int h) {
        return wxRect(ConvertDialogToPixels(wxPoint(x, y)), ConvertDialogToPixels(wxSize(w, h)));
    };
    // The frames first, so the controls inside them stay on top.
    wxRect r = rect(4, 2, 154, 36);
    new wxStaticBox(this, wxID_ANY, TrUi("Auto-rename mode"), r.GetPosition(), r.GetSize());
    r = rect(4, 40, 154, 36);
    new wxStaticBox(this, wxID_ANY, TrUi("Read the song from:"), r.GetPosition(), r.GetSize());
    r = rect(8, 14, 112, 10);
    m_withArtist = new wxCheckBox(this, IDC_WITHARTIST, TrUi("With artist before song name!"),
                                  r.GetPosition(), r.GetSize());
    r = rect(16, 26, 135, 8);
    // TRANSLATORS: an example file name in the Options dialog; the names in
    // it may stay as they are.
    new wxStaticText(this, wxID_STATIC, TrUi("Example:  Eagles - Hotel California.mp3"),
                     r.GetPosition(), r.GetSize(), wxST_NO_AUTORESIZE);
    // TRANSLATORS: the two answers to "Read the song from:" in the Options
    // dialog.
    r = rect(8, 51, 140, 10);
    m_fromId3v1 = new wxRadioButton(this, IDC_FROMID3V1, TrUi("the ID3v1 tag"), r.GetPosition(),
                                    r.GetSize(), wxRB_GROUP);
    r = rect(8, 62, 140, 10);
    m_fromId3v2 = new wxRadioButton(this, IDC_FROMID3V2, TrUi("the ID3v2 tag where there is one"),
                                    r.GetPosition(), r.GetSize());
    // The stock label, which wx translates (given as text, it would not be).
    r = rect(70, 80, 40, 14);
    wxButton* ok = new wxButton(this, wxID_OK, wxGetStockLabel(wxID_OK, wxSTOCK_NOFLAGS),
                                r.GetPosition(), r.GetSize());
    // Our own Cancel, as in the tag editor, not the stock one: GTK labels
    // that in Russian with the usual word for Undo.
    r = rect(115, 80, 40, 14);
    new wxButton(this, IDC_OPTIONS_CANCEL, TrUi("Cancel"), r.GetPosition(), r.GetSize());
    FitTexts(this);
    ok->SetDefault();
    // It ends the dialog as wxID_CANCEL, as the close box does.
    SetEscapeId(IDC_OPTIONS_CANCEL);

    Bind(wxEVT_CHAR_HOOK, &COptionsWindow::OnCharHook, this);
    CentreOnParent();
    m_withArtist->SetFocus();
}

void COptionsWindow::OnCharHook(wxKeyEvent& event)
{
    const int code = event.GetKeyCode();
    if (code == WXK_ESCAPE)
    {
        EmulateButtonClickIfPresent(GetEscapeId());
        return;
    }
    if (code == WXK_RETURN || code == WXK_NUMPAD_ENTER)
    {
        // A focused push button takes Return itself; elsewhere it means OK.
        const wxButton* focused = dynamic_cast<const wxButton*>(FindFocus());
        const int id = focused && focused->GetParent() == this ? focused->GetId() : wxID_OK;
        EmulateButtonClickIfPresent(id);
        return;
    }
    event.Skip();
}

void COptionsDlg::LoadSettings()
{
    const std::string path = SettingsFilePath();
    m_bWithArtist = ReadModeByte(path);
    m_bFromId3v2 = ReadTagSourceByte(path);
}

int COptionsDlg::DoModal(wxWindow* parent)
{
    COptionsWindow window(parent);
    window.m_withArtist->SetValue(m_bWithArtist != 0);
    (m_bFromId3v2 != 0 ? window.m_fromId3v2 : window.m_fromId3v1)->SetValue(true);
    const int result = window.ShowModal();
    if (result != wxID_OK)
        return wxID_CANCEL;
    m_bWithArtist = window.m_withArtist->GetValue() ? 1 : 0;
    m_bFromId3v2 = window.m_fromId3v2->GetValue() ? 1 : 0;
    return wxID_OK;
}

int COptionsDlg::SaveSettings() const
{
    const std::string path = SettingsFilePath();
    const int mode = WriteModeByte(path, m_bWithArtist);
    return WriteTagSourceByte(path, m_bFromId3v2) == 1 ? mode : 0;
}
