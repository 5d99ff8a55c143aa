// SPDX-License-Identifier: GPL-3.0-or-later
// The auto-rename mode and the tag the song is read from, their settings file
// and the Options dialog that sets them.
#pragma once

#include "core/Settings.h"

#include <string>
#include <wx/dialog.h>

class wxCheckBox;
class wxRadioButton;

// The window of the Options dialog (IDD_OPTIONS), made for one run.
class COptionsWindow : public wxDialog
{
public:
    explicit COptionsWindow(wxWindow* parent);

    wxCheckBox* m_withArtist = nullptr;   // IDC_WITHARTIST
    wxRadioButton* m_fromId3v1 = nullptr;   // IDC_FROMID3V1
    wxRadioButton* m_fromId3v2 = nullptr;   // IDC_FROMID3V2

private:
    void OnCharHook(wxKeyEvent& event);
};

class COptionsDlg
{
public:
    // Reads the mode and the tag from the settings file; with artist, and
    // ID3v1, when the file says nothing.
    void LoadSettings();
    // Runs the dialog modally over parent and returns wxID_OK or wxID_CANCEL;
    // OK stores the check box back into m_bWithArtist and the choice of tag
    // into m_bFromId3v2.
    int DoModal(wxWindow* parent);
    // Writes m_bWithArtist and m_bFromId3v2 to the settings file: 1 written,
    // 0 not (no file, not writable). Failing leaves the file and the
    // in-memory settings alone.
    int SaveSettings() const;

    // Non-zero: artist before the song name.
    int m_bWithArtist = 0;
    // Non-zero: the song from the ID3v2 tag where a file has one, as
    // mp3tavoly-rename --tag any reads it; 0: from the ID3v1 tag only.
    int m_bFromId3v2 = 0;
};
