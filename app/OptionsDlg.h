// The auto-rename mode, its settings file and the Options dialog that sets it.
#pragma once

#include <string>
#include <wx/dialog.h>

class wxCheckBox;

// Offset of the one byte of the settings file that holds the mode.
constexpr long kSettingsOffset = 12000;

// The full path of the settings file, "Vov/Vov.dat" under the program
// directory, or "" when the program directory is unknown.
std::string SettingsFilePath();

// Reads the mode byte of the file at path: 0 only when the byte exists and is
// '0', else 1. Never creates or changes the file.
int ReadModeByte(const std::string& path);

// Writes '1' or '0' at the mode byte of an existing regular file, leaving every
// other byte as it was (a shorter file grows to hold it; the gap reads as zero
// bytes). 1 written, 0 nothing written. Never creates or truncates the file.
int WriteModeByte(const std::string& path, int withArtist);

// The window of the Options dialog (template 154), made for one run.
class COptionsWindow : public wxDialog
{
public:
    explicit COptionsWindow(wxWindow* parent);

    wxCheckBox* m_withArtist = nullptr;   // check box 1058

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
