// SPDX-License-Identifier: GPL-3.0-or-later
// The ID3v1 editor: shows and edits the tag of one queued file, renames it,
// steps through the queue and plays the file.
#pragma once

#include "player/MediaPlayer.h"

#include <wx/eventfilter.h>
#include <wx/string.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class wxButton;
class wxChoice;
class wxCommandEvent;
class wxDialog;
class wxPoint;
class wxRect;
class wxSlider;
class wxStaticBox;
class wxTextCtrl;
class wxTimer;
class wxWindow;

// Control ids of the editor.
enum
{
    IDC_TAG_FILENAME_LABEL = 1022,
    IDC_TAG_PATH = 1023,
    IDC_TAG_FILENAME = 1024,
    IDC_TAG_TITLE = 1025,
    IDC_TAG_FROMTITLE = 1026,
    IDC_TAG_ARTIST = 1027,
    IDC_TAG_ALBUM = 1028,
    IDC_TAG_YEAR = 1029,
    IDC_TAG_GENRE = 1030,
    IDC_TAG_COMMENT = 1031,
    IDC_TAG_TRACK = 1032,
    IDC_TAG_PREV = 1033,
    IDC_TAG_NEXT = 1034,
    IDC_TAG_SAVE = 1035,
    IDC_TAG_CLEAR = 1036,
    IDC_TAG_PLAY = 1037,
    IDC_TAG_PAUSE = 1038,
    IDC_TAG_STOP = 1039,
    IDC_TAG_FROMFILENAME = 1041,
    IDC_TAG_FRAME = 1043,
    IDC_TAG_SLIDER = 1021,
    IDC_TAG_CANCEL = 2,
};

class CTagEditorDlg : public wxEventFilter
{
public:
    CTagEditorDlg();
    ~CTagEditorDlg() override;
    CTagEditorDlg(const CTagEditorDlg&) = delete;
    CTagEditorDlg& operator=(const CTagEditorDlg&) = delete;

    // Creates the window hidden, owned by parent.
    void Create(wxWindow* parent);
    // Forgets the window (it is destroyed with its owner); playback stops.
    void Detach();
    wxDialog* GetWindow() const { return m_wnd; }

    // Current row -1 and the player idle.
    void Reset();
    // Loads the file at path into the fields: 1 when it has a tag, else 0
    // (fields empty, Path and File Name shown). Shows the window when a tag
    // was read; never changes m_row.
    int ShowTag(const std::string& path);
    // Empties the tag fields; Path and File Name stay.
    void ClearFields();

    bool IsVisible() const;
    void Show();
    // Shows an open editor again (the main window restored): on its row's
    // file as the queue now has it, or closed when the row is gone.
    void ShowAgain();
    void Hide();
    // As when the user closes the window.
    void Close();
    void Move(const wxPoint& topLeft);

    // The commands of the window's buttons.
    void OnClear();
    void OnSave();
    void OnNext();
    void OnPrev();
    void OnPlay();
    void StopPlayback();
    void OnFromTitle();
    void OnFromFileName();
    void OnCloseEditor();

    // Return and Escape reach no control; a click ends a drag from the
    // directory list.
    int FilterEditorInput(wxEvent& event);
    int FilterEvent(wxEvent& event) override { return FilterEditorInput(event); }

    // The limits of the fields, in bytes of the text as it is stored.
    static constexpr std::size_t kTextLimit = 30;
    static constexpr std::size_t kFileNameLimit = 250;
    static constexpr std::size_t kTrackLimit = 2;
    static constexpr std::size_t kYearLimit = 4;

    int m_row = -1;
    int m_isOpen = 0;
    wxSlider* m_slider = nullptr;      // 1021
    wxChoice* m_genreBox = nullptr;    // 1030
    int m_genre = -1;
    MediaPlayer m_player;
    int m_resumeAfterSave = 0;
    int m_savedPos = 0;
    int m_playRow = -1;

private:
    // One edit field whose stored text has a limit.
    struct LimitedField
    {
        wxTextCtrl* edit = nullptr;
        std::size_t limit = 0;
        bool tagText = false;     // stored through the tag encoding
        bool digitsOnly = false;
        wxString accepted;        // the last text within the rules
    };

    void CreateControls();
    void Appear();   // shows the window, the caret in File Name if it was hidden
    wxRect DialogRect(int x, int y, int w, int h) const;
    LimitedField* FieldOf(const wxTextCtrl* edit);
    // Sets a field's text from the program (not limited).
    void SetFieldText(wxTextCtrl* edit, const wxString& text);
    // Keeps typing within a field's rules.
    void OnFieldText(wxCommandEvent& event);
    // The stored size of a text in a field.
    static std::size_t StoredSize(const LimitedField& field, const wxString& text);
    // The File Name field as bytes; the name as loaded when left unchanged.
    std::string FileNameText() const;
    void SetFrameText(const char* text);
    // Prev and Next: the row becomes the queue's only selected row, shown.
    void StepTo(int row);
    void ForgetWindow();

    wxDialog* m_wnd = nullptr;
    std::unique_ptr<wxTimer> m_timer;   // 160, the player's
    bool m_filtering = false;

    wxTextCtrl* m_pathEdit = nullptr;
    wxTextCtrl* m_fileNameEdit = nullptr;
    wxTextCtrl* m_titleEdit = nullptr;
    wxTextCtrl* m_artistEdit = nullptr;
    wxTextCtrl* m_albumEdit = nullptr;
    wxTextCtrl* m_trackEdit = nullptr;
    wxTextCtrl* m_yearEdit = nullptr;
    wxTextCtrl* m_commentEdit = nullptr;
    wxStaticBox* m_tagFrame = nullptr;
    wxButton* m_pauseButton = nullptr;
    std::vector<LimitedField> m_limits;

    // The loaded file: its full path and name as bytes.
    std::string m_path;
    std::string m_fileName;
};
