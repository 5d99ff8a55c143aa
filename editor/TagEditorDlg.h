// The ID3v1 editor: shows and edits the tag of one queued file, renames it,
// steps through the queue and plays the file.
#pragma once

#include "player/MediaPlayer.h"

#include <string>

class wxDialog;
class wxWindow;
class wxPoint;

class CTagEditorDlg
{
public:
    CTagEditorDlg() = default;
    CTagEditorDlg(const CTagEditorDlg&) = delete;
    CTagEditorDlg& operator=(const CTagEditorDlg&) = delete;

    // Creates the window hidden, owned by parent.
    void Create(wxWindow* parent);
    // Forgets the window (it is destroyed with its owner).
    void Detach();
    wxDialog* GetWindow() const { return m_wnd; }

    // Current row -1 and the player idle.
    void Reset();
    // Loads the file at path into the fields.
    void ShowTag(const std::string& path);

    bool IsVisible() const;
    void Show();
    void Hide();
    // As when the user closes the window.
    void Close();
    void Move(const wxPoint& topLeft);

    int m_row = -1;
    int m_isOpen = 0;
    MediaPlayer m_player;

private:
    wxDialog* m_wnd = nullptr;
    std::string m_path;
};
