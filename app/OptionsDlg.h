// The auto-rename mode and the Options dialog that sets it.
#pragma once

class wxWindow;

class COptionsDlg
{
public:
    // Reads the mode from the settings file; on when the file says nothing.
    void LoadSettings();
    // Runs the dialog modally over parent; OK applies and stores the mode.
    void Run(wxWindow* parent);

    // Non-zero: artist before the song name.
    int m_bWithArtist = 1;
};
