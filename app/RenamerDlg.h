// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: directory browser on the left, rename queue on the right,
// command buttons, the player and two status lines.
#pragma once

#include "player/MediaPlayer.h"

#include <wx/dialog.h>
#include <wx/eventfilter.h>
#include <wx/icon.h>
#include <wx/imaglist.h>
#include <wx/slider.h>
#include <wx/timer.h>

class wxButton;
class wxStaticBox;
class wxTextCtrl;
class CQueueListCtrl;
class CDirListCtrl;
class CLocationBoxCtrl;

class CRenamerDlg : public wxDialog, public wxEventFilter
{
public:
    explicit CRenamerDlg(wxWindow* parent);
    ~CRenamerDlg() override;

    // Position and size given in dialog units, in pixels of this window.
    wxRect DialogRect(int x, int y, int w, int h) const;

    wxSlider* m_slider = nullptr;
    wxIconBundle m_hIcon;
    wxImageList* m_imageList = nullptr;   // shared by both lists, owned here
    MediaPlayer m_player;                  // m_hMciWnd, m_playing, m_paused

    // Handlers reachable from tests and other windows.
    void OpenTagEditor();
    void OnPlayButton();
    void OnHelpButton();
    void OnOption();
    void OnLocationPicked(const std::string& pickedPath);

    // Sees every event first; swallows Return and Escape, ends stray drags.
    int FilterEvent(wxEvent& event) override;

private:
    void CreateControls();
    void DoDataExchange();
    bool OnInitDialog();
    void SetArrowCursor();
    // The first selected queue row, or -1 after the matching warning.
    int FirstSelectedRowOrWarn();

    void OnAutoRename(wxCommandEvent&);
    void OnUndo(wxCommandEvent&);
    void OnRemove(wxCommandEvent&);
    void OnId3v1(wxCommandEvent&);
    void OnPlay(wxCommandEvent&);
    void OnPause(wxCommandEvent&);
    void OnStop(wxCommandEvent&);
    void OnSliderReleased(wxScrollEvent&);
    void OnTimer(wxTimerEvent&);
    void OnOptionButton(wxCommandEvent&);
    void OnHelp(wxCommandEvent&);
    void OnQueuePlay(wxCommandEvent&);
    void OnQueueEditTag(wxCommandEvent&);
    void OnLocationPickedEvent(wxCommandEvent&);
    void OnIconize(wxIconizeEvent&);

    CLocationBoxCtrl* m_location = nullptr;
    CDirListCtrl* m_dirList = nullptr;
    CQueueListCtrl* m_queue = nullptr;
    wxTextCtrl* m_dirStatus = nullptr;
    wxTextCtrl* m_queueStatus = nullptr;
    wxTimer m_playTimer;

    wxDECLARE_EVENT_TABLE();
};
