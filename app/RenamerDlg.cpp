// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RenamerDlg.h"

#include "app/Accessible.h"
#include "app/Display.h"
#include "app/Globals.h"
#include "app/HelpDlg.h"
#include "app/Ids.h"
#include "app/OptionsDlg.h"
#include "app/TextFit.h"
#include "app/WarningBox.h"
#include "browser/DirList.h"
#include "browser/LocationBox.h"
#include "core/Translate.h"
#include "editor/TagEditorDlg.h"
#include "queue/QueueList.h"
#include "res/Images.h"

#include <wx/button.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

wxDEFINE_EVENT(WM_QUEUEPLAY, wxCommandEvent);
wxDEFINE_EVENT(WM_QUEUEEDITTAG, wxCommandEvent);
wxDEFINE_EVENT(WM_LOCATIONPICKED, wxCommandEvent);

void SendToMainWindow(wxEventType type, void* wParam)
{
    if (!g_hMainWnd)
        return;
    wxCommandEvent event(type, g_hMainWnd->GetId());
    event.SetEventObject(g_hMainWnd);
    event.SetClientData(wParam);
    g_hMainWnd->GetEventHandler()->ProcessEvent(event);
}

wxBEGIN_EVENT_TABLE(CRenamerDlg, wxDialog)
    EVT_BUTTON(IDC_AUTORENAME, CRenamerDlg::OnAutoRename)
    EVT_BUTTON(IDC_UNDO, CRenamerDlg::OnUndo)
    EVT_BUTTON(IDC_REMOVE, CRenamerDlg::OnRemove)
    EVT_BUTTON(IDC_ID3V1, CRenamerDlg::OnId3v1)
    EVT_BUTTON(IDC_PLAY, CRenamerDlg::OnPlay)
    EVT_BUTTON(IDC_PAUSE, CRenamerDlg::OnPause)
    EVT_BUTTON(IDC_STOP, CRenamerDlg::OnStop)
    EVT_COMMAND_SCROLL_THUMBRELEASE(IDC_SLIDER, CRenamerDlg::OnSliderReleased)
    EVT_COMMAND_SCROLL_CHANGED(IDC_SLIDER, CRenamerDlg::OnSliderReleased)
    EVT_TIMER(TIMER_MAIN_PLAYER, CRenamerDlg::OnTimer)
    EVT_BUTTON(IDC_OPTION, CRenamerDlg::OnOptionButton)
    EVT_BUTTON(IDC_HELPBUTTON, CRenamerDlg::OnHelp)
    EVT_COMMAND(wxID_ANY, WM_QUEUEPLAY, CRenamerDlg::OnQueuePlay)
    EVT_COMMAND(wxID_ANY, WM_QUEUEEDITTAG, CRenamerDlg::OnQueueEditTag)
    EVT_COMMAND(wxID_ANY, WM_LOCATIONPICKED, CRenamerDlg::OnLocationPickedEvent)
    EVT_ICONIZE(CRenamerDlg::OnIconize)
wxEND_EVENT_TABLE()

CRenamerDlg::CRenamerDlg(wxWindow* parent) : m_playTimer(this, TIMER_MAIN_PLAYER)
{
    // A fixed-size window: caption, system menu, minimise and close boxes only.
    Create(parent, IDD_RENAMER_DIALOG, TrUi("Mp3 Tavoly - Mp3 files auto-renamer"), wxDefaultPosition,
           wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX);
    // Dialog units follow this font: the layout's sizes were chosen for it.
    SetFont(wxFont(9, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL));
    m_hIcon = LoadProgramIcon();
    SetClientSize(ConvertDialogToPixels(wxSize(503, 332)));
    CreateControls();
    OnInitDialog();
    Centre();
}

CRenamerDlg::~CRenamerDlg()
{
    wxEvtHandler::RemoveFilter(this);
    m_playTimer.Stop();
    m_player.StopPlayback();
    g_hMainWnd = nullptr;
    g_hDirStatus = nullptr;
    g_hQueueStatus = nullptr;
    g_tagEditor.Detach();
    g_helpDlg.Detach();
    g_howToDlg.Detach();
    g_queue.Detach();
    g_dirList.Detach();
    g_locationBox.Detach();
    // The lists borrow the image list: destroy them before it.
    DestroyChildren();
    delete m_imageList;
}

wxRect CRenamerDlg::DialogRect(int x, int y, int w, int h) const
{
    return wxRect(ConvertDialogToPixels(wxPoint(x, y)), ConvertDialogToPixels(wxSize(w, h)));
}

void CRenamerDlg::CreateControls()
{
    auto frame = [this](int x, int y, int w, int h) {
        const wxRect r = DialogRect(x, y, w, h);
        new wxStaticBox(this, wxID_ANY, wxString(), r.GetPosition(), r.GetSize());
    };
    // Frames first, so the controls inside them stay on top.
    frame(1, 0, 186, 42);
    frame(189, 0, 177, 42);
    frame(369, 0, 131, 41);
    frame(3, 310, 183, 19);
    frame(190, 310, 312, 19);

    auto button = [this](int id, const char* text, int x, int y, int w, int h) {
        const wxRect r = DialogRect(x, y, w, h);
        return new wxButton(this, id, TrUi(text), r.GetPosition(), r.GetSize());
    };

    // Created in tab order.
    wxRect r = DialogRect(51, 21, 132, 16);
    m_location = new CLocationBoxCtrl(this, IDC_LOCATION, r.GetPosition(), r.GetSize());
    r = DialogRect(1, 44, 186, 267);
    m_dirList = new CDirListCtrl(this, IDC_DIRLIST, r.GetPosition(), r.GetSize());
    r = DialogRect(190, 44, 312, 267);
    m_queue = new CQueueListCtrl(this, IDC_QUEUE, r.GetPosition(), r.GetSize());
    // TRANSLATORS: the main window's buttons are small; keep them short. The
    // four queue buttons are two lines high: a long word may break at a soft
    // hyphen (U+00AD) put in it.
    button(IDC_AUTORENAME, N_("Auto-Rename"), 194, 9, 55, 28);
    button(IDC_UNDO, N_("Undo"), 253, 9, 34, 28);
    button(IDC_REMOVE, N_("Remove"), 291, 9, 34, 28);
    button(IDC_OPTION, N_("Option"), 5, 23, 41, 16);
    // TRANSLATORS: a player button, in the main window and the tag editor.
    button(IDC_PLAY, N_("Play"), 373, 8, 34, 16);
    // TRANSLATORS: a player button; it reads "Resume" while paused.
    wxButton* pause = button(IDC_PAUSE, N_("Pause"), 416, 7, 37, 16);
    // TRANSLATORS: a player button.
    button(IDC_STOP, N_("Stop"), 459, 7, 38, 16);
    r = DialogRect(373, 27, 125, 12);
    m_slider = new wxSlider(this, IDC_SLIDER, 0, 0, 100, r.GetPosition(), r.GetSize(),
                            wxSL_HORIZONTAL);
    r = DialogRect(8, 316, 176, 12);
    m_dirStatus = new wxTextCtrl(this, IDC_DIRSTATUS, wxString(), r.GetPosition(), r.GetSize(),
                                 wxTE_READONLY | wxBORDER_NONE);
    r = DialogRect(194, 316, 271, 12);
    m_queueStatus = new wxTextCtrl(this, IDC_QUEUESTATUS, wxString(), r.GetPosition(),
                                   r.GetSize(), wxTE_READONLY | wxBORDER_NONE);
    button(IDC_HELPBUTTON, N_("Help"), 5, 6, 41, 16);
    // TRANSLATORS: the button that opens the tag editor; the tag's name.
    button(IDC_ID3V1, N_("Id3v1"), 329, 9, 33, 28);

    FitTexts(this, {{pause, {TrUi("Resume")}}});

    m_player.Attach(this, m_slider, pause, &m_playTimer);
    m_player.SetFailureReporter([this](const std::string& text) { ShowWarningBox(text, this); });
}

void CRenamerDlg::DoDataExchange()
{
    g_locationBox.Attach(m_location);
    g_queue.Attach(m_queue);
    g_dirList.Attach(m_dirList);
}

bool CRenamerDlg::OnInitDialog()
{
    DoDataExchange();
    SetIcons(m_hIcon);

    g_tagEditor.Create(this);
    g_helpDlg.Create(this);
    g_howToDlg.Create(this);

    g_hDirStatus = m_dirStatus;
    g_hQueueStatus = m_queueStatus;
    g_hMainWnd = this;

    // TRANSLATORS: a column heading of both lists.
    m_dirList->InsertColumn(0, TrUi("Name"), wxLIST_FORMAT_LEFT, 150);
    // TRANSLATORS: a column heading 50 pixels wide: Folder or Mp3 below it.
    m_dirList->InsertColumn(1, TrUi("Type"), wxLIST_FORMAT_LEFT, 50);
    // TRANSLATORS: a column heading of both lists.
    m_dirList->InsertColumn(2, TrUi("Path"), wxLIST_FORMAT_LEFT, 490);
    m_dirList->FitColumns();
    g_dirList.ShowLocation();
    m_dirList->SetBackgroundColour(wxColour(255, 255, 248));
    // The light backgrounds were chosen for black text; a dark desktop theme
    // would otherwise draw its light text on them. Selected rows keep the
    // theme's highlight colours.
    m_dirList->SetForegroundColour(*wxBLACK);

    m_queue->InsertColumn(COL_NAME, TrUi("Name"), wxLIST_FORMAT_LEFT, 150);
    // TRANSLATORS: the queue's column heading, 90 pixels wide.
    m_queue->InsertColumn(COL_STATE, TrUi("State"), wxLIST_FORMAT_LEFT, 90);
    // TRANSLATORS: the queue's column heading: the name before the last rename.
    m_queue->InsertColumn(COL_ORIGINAL, TrUi("Original Name"), wxLIST_FORMAT_LEFT, 150);
    m_queue->InsertColumn(COL_PATH, TrUi("Path"), wxLIST_FORMAT_LEFT, 410);
    // The states are cut where they are long, as in English.
    for (int column : {COL_NAME, COL_STATE, COL_ORIGINAL, COL_PATH})
        FitColumn(m_queue, column);
    m_queue->SetBackgroundColour(wxColour(246, 247, 255));
    m_queue->SetForegroundColour(*wxBLACK);

    g_locationBox.CreateDropDown(0, 150);

    // Names a screen reader speaks for the controls that show no label.
    // TRANSLATORS: spoken by a screen reader for the location box.
    SetAccessibleName(m_location, TrUi("Location"), ACC_ROLE_COMBO_BOX);
    // TRANSLATORS: spoken by a screen reader for the list on the left.
    m_dirList->ExposeToScreenReaders(TrUi("Directory list"));
    // TRANSLATORS: spoken by a screen reader for the list on the right.
    m_queue->ExposeToScreenReaders(TrUi("Rename queue"));
    // TRANSLATORS: spoken by a screen reader for the player's slider.
    SetAccessibleName(m_slider, TrUi("Playback position"));
    SetAccessibleName(m_dirStatus, TrUi("Path"));
    // TRANSLATORS: spoken by a screen reader for the counts line under the queue.
    SetAccessibleName(m_queueStatus, TrUi("Queue counts"));

    // Colour images, no separate mask; black in the strip would be transparent.
    m_imageList = new wxImageList(16, 16, false, 15);
    m_imageList->Add(LoadIconStrip(), *wxBLACK);
    m_queue->SetImageList(m_imageList, wxIMAGE_LIST_SMALL);
    m_dirList->SetImageList(m_imageList, wxIMAGE_LIST_SMALL);
    g_locationBox.SetImageList(m_imageList);

    g_dirList.InitMenuAndCursor();
    g_queue.InitContextMenu();
    g_tagEditor.Reset();
    g_optionsDlg.LoadSettings();

    m_player.Reset();

    wxEvtHandler::AddFilter(this);
    m_location->SetFocus();
    return true;
}

void CRenamerDlg::SetArrowCursor()
{
    if (m_dirList)
        m_dirList->SetCursor(wxNullCursor);
    if (m_queue)
        m_queue->SetCursor(wxNullCursor);
}

static bool IsWithin(const wxWindow* win, const wxWindow* ancestor)
{
    for (; win; win = win->GetParent())
    {
        if (win == ancestor)
            return true;
    }
    return false;
}

int CRenamerDlg::FilterEvent(wxEvent& event)
{
    const wxEventType type = event.GetEventType();
    const bool isKey = type == wxEVT_KEY_DOWN || type == wxEVT_KEY_UP || type == wxEVT_CHAR ||
                       type == wxEVT_CHAR_HOOK;
    const bool isMouse = type == wxEVT_LEFT_UP || type == wxEVT_RIGHT_DOWN || type == wxEVT_RIGHT_UP;
    if (!isKey && !isMouse)
        return Event_Skip;
    wxWindow* win = wxDynamicCast(event.GetEventObject(), wxWindow);
    if (!win)
        return Event_Skip;
    const wxWindow* top = wxGetTopLevelParent(win);

    if (isKey)
    {
        // None of these windows closes by keyboard, and no control under them
        // sees the two keys.
        const bool ours = top == this || top == g_tagEditor.GetWindow() ||
                          top == g_helpDlg.GetWindow() || top == g_howToDlg.GetWindow();
        if (!ours)
            return Event_Skip;
        const int code = static_cast<wxKeyEvent&>(event).GetKeyCode();
        const bool enter = code == WXK_RETURN || code == WXK_NUMPAD_ENTER;
        // Return opens the directory list's focused row, as a double click
        // opens the selected one. The hook comes once per press, before the
        // key's other events.
        if (enter && type == wxEVT_CHAR_HOOK && IsWithin(win, m_dirList))
            g_dirList.OpenFocusedRow();
        if (enter || code == WXK_ESCAPE)
            return Event_Processed;
        return Event_Skip;
    }

    if (top != this)
        return Event_Skip;
    if (type == wxEVT_LEFT_UP)
    {
        // The pointer is grabbed by the window where the button went down, so
        // ask which window is under the release point.
        const wxPoint screen = win->ClientToScreen(static_cast<wxMouseEvent&>(event).GetPosition());
        if (IsWithin(wxFindWindowAtPoint(screen), m_queue))
            g_queue.EndDragFromDirList();
        else
            g_dirList.m_bDragging = 0;
    }
    else
    {
        g_dirList.m_bDragging = 0;
    }
    SetArrowCursor();
    return Event_Skip;
}

int CRenamerDlg::FirstSelectedRowOrWarn()
{
    if (g_queue.GetCount() == 0)
    {
        ShowWarningBox(Tr("No file in queue! "), this);
        return -1;
    }
    const int row = g_queue.FirstSelectedRow();
    if (row < 0)
        ShowWarningBox(Tr("Please select files in the queue! "), this);
    return row;
}

void CRenamerDlg::OpenTagEditor()
{
    const int row = FirstSelectedRowOrWarn();
    if (row < 0)
        return;
    g_tagEditor.ShowTag(g_queue.GetPath(row));
    const wxRect queue = m_queue->GetScreenRect();
    g_tagEditor.Move(wxPoint(queue.x + queue.width / 4, queue.y + queue.height / 4));
    g_tagEditor.Show();
    g_tagEditor.m_row = row;
    g_tagEditor.m_isOpen = 1;
}

void CRenamerDlg::OnPlayButton()
{
    if (m_player.m_playing == 1)
        m_player.StopPlayback();
    const int count = g_queue.GetCount();
    const int row = count > 0 ? g_queue.FirstSelectedRow() : -1;
    if (row >= 0)
        m_player.PlayFile(g_queue.GetPath(row));
    m_slider->SetValue(0);
    if (count == 0)
        ShowWarningBox(Tr("No file in queue! "), this);
    else if (row < 0)
        ShowWarningBox(Tr("Please select files in the queue! "), this);
}

void CRenamerDlg::OnHelpButton()
{
    const wxRect main = GetRect();
    g_helpDlg.Move(wxPoint(main.x + main.width / 7, main.y));
    g_helpDlg.Show();
}

void CRenamerDlg::OnOption()
{
    if (g_optionsDlg.DoModal(this) == wxID_OK)
        g_optionsDlg.SaveSettings();
}

void CRenamerDlg::OnLocationPicked(const std::string& pickedPath)
{
    std::string location = pickedPath;
    // A drive root (C:\) picked in the tree is held without its final
    // separator; elsewhere a backslash is part of a name.
    if (location.size() == 3 && location[1] == ':' && location[2] == '\\')
        location.resize(2);
    else if (location.size() > 1 && location.back() == '/')
        location.pop_back();
    g_dirList.m_location = location;
    g_dirList.ShowLocation();
}

void CRenamerDlg::OnAutoRename(wxCommandEvent&) { g_queue.AutoRenameSelected(); }
void CRenamerDlg::OnUndo(wxCommandEvent&) { g_queue.UndoSelected(); }
void CRenamerDlg::OnRemove(wxCommandEvent&) { g_queue.RemoveSelected(); }
void CRenamerDlg::OnId3v1(wxCommandEvent&) { OpenTagEditor(); }
void CRenamerDlg::OnPlay(wxCommandEvent&) { OnPlayButton(); }
void CRenamerDlg::OnPause(wxCommandEvent&) { m_player.TogglePause(); }
void CRenamerDlg::OnStop(wxCommandEvent&) { m_player.StopPlayback(); }
void CRenamerDlg::OnSliderReleased(wxScrollEvent&) { m_player.OnSliderReleased(); }
void CRenamerDlg::OnOptionButton(wxCommandEvent&) { OnOption(); }
void CRenamerDlg::OnHelp(wxCommandEvent&) { OnHelpButton(); }
void CRenamerDlg::OnQueuePlay(wxCommandEvent&) { OnPlayButton(); }
void CRenamerDlg::OnQueueEditTag(wxCommandEvent&) { OpenTagEditor(); }

void CRenamerDlg::OnTimer(wxTimerEvent& event)
{
    m_player.OnPlayTimer(event.GetId());
    event.Skip();
}

void CRenamerDlg::OnLocationPickedEvent(wxCommandEvent& event)
{
    const auto* item = static_cast<const FolderItem*>(event.GetClientData());
    OnLocationPicked(item ? item->path : std::string());
}

void CRenamerDlg::OnIconize(wxIconizeEvent& event)
{
    // Restoring the main window brings an open tag editor back.
    if (!event.IsIconized() && g_tagEditor.m_isOpen == 1)
        g_tagEditor.ShowAgain();
    event.Skip();
}
