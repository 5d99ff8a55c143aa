// SPDX-License-Identifier: GPL-3.0-or-later
// The auto-rename mode, its settings file and the Options dialog that sets it.
#pragma once

#include "core/Settings.h"

#include <string>
#include <wx/dialog.h>

class wxCheckBox;

// The window of the Options dialog (IDD_OPTIONS), made for one run.
class COptionsWindow : public wxDialog
{
public:
    explicit COptionsWindow(wxWindow* parent);

    wxCheckBox* m_withArtist = nullptr;   // IDC_WITHARTIST

private:
    void OnCharHook(wxKeyEvent& event);
};

class COptionsDlg
{
public:
    // Reads the mode from the settings file; on when the file says nothing.
    void LoadSettings();
    // Runs the dialog modally over parent and returns wxID_OK or wxID_CANCEL;
    // OK stores the check box back into m_bWithArtist.
    int DoModal(wxWindow* parent);
    // Writes m_bWithArtist to the settings file: 1 written, 0 not (no file,
    // not writable). Failing leaves the file and the in-memory mode alone.
    int SaveSettings() const;

    // Non-zero: artist before the song name.
    int m_bWithArtist = 0;
};
