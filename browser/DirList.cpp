// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/DirList.h"

#include <wx/utils.h>

#include "app/Display.h"
#include "app/FocusMark.h"
#include "app/Globals.h"
#include "app/Ids.h"
#include "app/TextFit.h"
#include "browser/LocationBox.h"
#include "browser/Locations.h"
#include "core/TextCodec.h"
#include "core/Translate.h"
#include "queue/QueueList.h"
#include "res/Images.h"

#include <wx/cursor.h>
#include <wx/menu.h>
#include <wx/textctrl.h>

#include <cstring>
#include <dirent.h>
#include <iterator>
#include <sys/stat.h>

wxCursor* g_hDragCursor = nullptr;

namespace
{
// Kept and compared in English; shown in the user's language.
// TRANSLATORS: the directory list's first row, which leads one folder up.
const char* const kParentRow = N_("Parent Directory");
// TRANSLATORS: the directory list's Type column, 50 pixels wide.
const char* const kTypeFolder = N_("Folder");
// TRANSLATORS: the directory list's Type column, 50 pixels wide.
const char* const kTypeMp3 = N_("Mp3");

DirRow ParentRow()
{
    return DirRow{kParentRow, std::string(), std::string(), IMG_PARENT};
}

DirRow MyDocumentRow()
{
    return DirRow{kLocMyDocument, std::string(), std::string(), IMG_MYDOCUMENTS};
}

DirRow MyComputerRow()
{
    return DirRow{kLocMyComputer, std::string(), std::string(), IMG_MYCOMPUTER};
}

// ".mp3" in any case as the last four bytes of the name.
bool HasMp3Ending(const char* name, size_t length)
{
    if (length < 4)
        return false;
    const char* end = name + length - 4;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return end[0] == '.' && lower(end[1]) == 'm' && lower(end[2]) == 'p' && end[3] == '3';
}

// Appends the folders of path, then its MP3 files, each group in the order
// the file system gives them. False when the folder cannot be read.
bool ReadFolder(const std::string& path, std::vector<DirRow>& rows)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return false;
    const int fd = dirfd(dir);
    const std::string prefix = path.back() == '/' ? path : path + '/';
    std::vector<DirRow> files;
    while (const dirent* entry = readdir(dir))
    {
        const char* name = entry->d_name;
        if (name[0] == '.')
            continue;   // ".", ".." and every hidden name
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN)
        {
            // A link counts as what it leads to.
            struct stat st;
            folder = fstatat(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        const size_t length = std::strlen(name);
        if (folder)
            rows.push_back(DirRow{std::string(name, length), kTypeFolder, prefix + name, IMG_FOLDER});
        else if (HasMp3Ending(name, length))
            files.push_back(DirRow{std::string(name, length), kTypeMp3, prefix + name, IMG_MP3});
    }
    closedir(dir);
    rows.insert(rows.end(), std::make_move_iterator(files.begin()),
                std::make_move_iterator(files.end()));
    return true;
}
} // namespace

// ---------------------------------------------------------------------------
// The list window

CDirListCtrl::CDirListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : CRowsList(parent, id, pos, size, wxBORDER_THEME)
{
    Bind(wxEVT_KEY_DOWN, &CDirListCtrl::OnKeyDown, this);
    Bind(wxEVT_CONTEXT_MENU, &CDirListCtrl::OnContextMenu, this);
    Bind(wxEVT_MENU, &CDirListCtrl::OnMenu, this);
    Bind(wxEVT_LIST_BEGIN_DRAG, &CDirListCtrl::OnBeginDrag, this);
    // Mouse events arrive at the list's inner window (which passes those it
    // does not handle itself on to the list).
    wxWindow* rows = GetRowsWindow();
    rows->Bind(wxEVT_LEFT_DCLICK, &CDirListCtrl::OnDoubleClick, this);
    rows->Bind(wxEVT_MOTION, &CDirListCtrl::OnMotion, this);
    rows->Bind(wxEVT_LEFT_DOWN, &CDirListCtrl::OnLeftDown, this);
    rows->Bind(wxEVT_LEFT_UP, &CDirListCtrl::OnLeftUp, this);
}

wxString CDirListCtrl::OnGetItemText(long item, long column) const
{
    if (item < 0 || static_cast<size_t>(item) >= g_dirList.RowCount())
        return wxString();
    const DirRow& row = g_dirList.Row(static_cast<size_t>(item));
    // The rows that are no folder or file show their names translated (a
    // folder may be called "Desktop" too); the drives' names come in the
    // user's language already.
    const bool named = row.type.empty() && (row.name == kParentRow || IsLocationKey(row.name));
    switch (column)
    {
    case 0: return named ? TrUi(row.name.c_str()) : ToDisplay(row.name);
    case 1: return row.type.empty() ? wxString() : TrUi(row.type.c_str());
    case 2: return ToDisplay(row.path);
    default: return wxString();
    }
}

void CDirListCtrl::FitColumns()
{
    FitColumn(this, 0,
              {TrUi(kParentRow), TrUi(kLocMyComputer), TrUi(kLocDesktop), TrUi(kLocMyDocument),
               ToDisplay(RootDriveText())},
              true);
    FitColumn(this, 1, {TrUi(kTypeFolder), TrUi(kTypeMp3)});
    FitColumn(this, 2);
}

int CDirListCtrl::OnGetItemImage(long item) const
{
    if (item < 0 || static_cast<size_t>(item) >= g_dirList.RowCount())
        return -1;
    return g_dirList.Row(static_cast<size_t>(item)).image;
}

void CDirListCtrl::OnDoubleClick(wxMouseEvent&)
{
    // Not passed on: the rows may have changed under the pointer, and the
    // list's own double-click handling would act on the new ones.
    g_dirList.OpenSelectedRow();
}

void CDirListCtrl::OnMotion(wxMouseEvent& event)
{
    if (g_dirList.m_bDragging == 1 && g_hDragCursor)
        SetCursor(*g_hDragCursor);
    else
        SetCursor(wxNullCursor);
    ShowNameTip(event.GetPosition());
    event.Skip();
}

void CDirListCtrl::ShowNameTip(const wxPoint& pos)
{
    // A name too long for its column ends in "..."; a drive's row has no
    // path to read it by, so the whole name shows over the cell.
    int flags = 0;
    const long row = HitTest(pos, flags);
    const int x = CalcUnscrolledPosition(pos).x;
    const int width = GetColumnWidth(0);
    wxString tip;
    if (row >= 0 && static_cast<size_t>(row) < g_dirList.RowCount() && x >= 0 && x < width)
    {
        const wxString name = OnGetItemText(row, 0);
        // The cell's margins and picture, as the list draws them.
        if (GetTextExtent(name).x + 2 + 16 + 5 + 8 > width)
            tip = name;
    }
    ShowRowsTip(tip);
}

void CDirListCtrl::OnKeyDown(wxKeyEvent& event)
{
    if (event.GetKeyCode() == 'A' && event.ControlDown())
        g_dirList.SelectAllMedia();
    event.Skip();
}

void CDirListCtrl::OnContextMenu(wxContextMenuEvent& event)
{
    if (!TakeContextMenu(event) || !g_dirList.m_pPopup)
        return;
    g_dirList.m_pPopup->Enable(MenuItemId(ID_DIRLIST_OPEN),
                               g_dirList.LeadsSomewhere(g_dirList.MenuRow()));
    PopupMenu(g_dirList.m_pPopup);
}

void CDirListCtrl::OnMenu(wxCommandEvent& event)
{
    g_dirList.OnContextCommand(CommandIdOf(event.GetId()));
}

void CDirListCtrl::OnBeginDrag(wxListEvent&)
{
    m_dragBegun = true;
    g_dirList.BeginDrag();
}

void CDirListCtrl::OnLeftDown(wxMouseEvent& event)
{
    m_dragBegun = false;
    event.Skip();
}

void CDirListCtrl::OnLeftUp(wxMouseEvent& event)
{
    // The release that ends a drag comes here wherever it happens (the
    // pointer stays grabbed). Passed on, the list would take it for the end
    // of a click on the row under it and keep only the drag's first row
    // selected, or none.
    if (m_dragBegun)
    {
        m_dragBegun = false;
        return;
    }
    event.Skip();
}

// ---------------------------------------------------------------------------
// The model

CDirList::CDirList() : m_location(kLocMyComputer)
{
}

CDirList::~CDirList() = default;

void CDirList::Attach(CDirListCtrl* ctrl)
{
    m_ctrl = ctrl;
}

void CDirList::Detach()
{
    m_rows.clear();
    m_location = kLocMyComputer;
    m_folder.clear();
    m_bDragging = 0;
    m_ctrl = nullptr;
    m_menu.reset();
    m_pPopup = nullptr;
    delete g_hDragCursor;
    g_hDragCursor = nullptr;
}

void CDirList::InitMenuAndCursor()
{
    m_menu = std::make_unique<wxMenu>();
    // TRANSLATORS: the directory list's context menu: goes into the
    // selected folder, as a double click or Return does.
    m_menu->Append(MenuItemId(ID_DIRLIST_OPEN), TrUi("Open"), TrUi("Open the selected folder."));
    // TRANSLATORS: the directory list's context menu: an item, then its help
    // text. "Reflash" (sic) lists the folder again.
    m_menu->Append(MenuItemId(ID_DIRLIST_REFLASH), TrUi("Reflash"), TrUi("Reflash the list."));
    m_menu->Append(MenuItemId(ID_DIRLIST_ADDTOQUEUE), TrUi("Add to queue"),
                   TrUi("Add the selected media files to the queue. If a folder is selected, the "
                        "software will search for the media files in it automatically."));
    m_menu->Append(MenuItemId(ID_DIRLIST_PARENT), TrUi("Parent directory"),
                   TrUi("Go back to parent directory."));
    m_menu->Append(MenuItemId(ID_DIRLIST_SELECTALL), TrUi("Select all Mp3 files"),
                   TrUi("Select all of the media files in the this list."));
    m_pPopup = m_menu.get();
    if (!g_hDragCursor)
        g_hDragCursor = new wxCursor(LoadDragCursor());
}

void CDirList::SetRows(std::vector<DirRow> rows)
{
    m_rows = std::move(rows);
    if (!m_ctrl)
        return;
    // Selection and focus belong to the old rows.
    m_ctrl->DeleteAllItems();
    m_ctrl->SetItemCount(static_cast<long>(m_rows.size()));
    m_ctrl->Scroll(0, 0);
    m_ctrl->Refresh();
    KeepFocusRow(m_ctrl, m_ctrl->GetRowsWindow());
}

void CDirList::ShowLocation()
{
    SetRows({});
    UpdatePathLine();
    if (m_location.empty() || m_location == kLocMyComputer)
        ListDrives();
    else if (m_location == kLocDesktop)
        ListFolder(SpecialFolderPath(CSIDL_DESKTOP));
    else if (m_location == kLocMyDocument)
        ListFolder(SpecialFolderPath(CSIDL_PERSONAL));
    else
        ListFolder(m_location);
}

void CDirList::ListDrives()
{
    std::vector<DirRow> rows;
    rows.push_back(ParentRow());
    rows.push_back(MyDocumentRow());
    for (const DriveEntry& drive : EnumerateDrives())
        rows.push_back(DirRow{drive.text, std::string(), std::string(), drive.image});
    SetRows(std::move(rows));
}

bool CDirList::ListFolder(const std::string& path)
{
    std::vector<DirRow> rows;
    rows.push_back(ParentRow());
    m_folder = path;
    const bool read = ReadFolder(path, rows);
    // The desktop is the top of the browser and going up stays there, so its
    // two ways out are shown even when the folder itself cannot be read.
    if (m_location == kLocDesktop)
    {
        rows.insert(rows.begin() + 1, MyDocumentRow());
        rows.insert(rows.begin() + 2, MyComputerRow());
    }
    SetRows(std::move(rows));
    return read;
}

void CDirList::GoUp()
{
    m_location = ParentLocation(m_location);
}

void CDirList::EnterRow(const std::string& name, int kind)
{
    m_location = EnteredLocation(m_location, name, kind);
}

bool CDirList::IsSelected(long row) const
{
    return m_ctrl && row >= 0 && static_cast<size_t>(row) < m_rows.size() &&
           m_ctrl->GetItemState(row, wxLIST_STATE_SELECTED) != 0;
}

void CDirList::SelectRow(long row, bool selected)
{
    if (m_ctrl && row >= 0 && static_cast<size_t>(row) < m_rows.size())
        m_ctrl->SetItemState(row, selected ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
}

int CDirList::SelectAllMedia()
{
    for (size_t i = 0; i < m_rows.size(); ++i)
    {
        if (m_rows[i].type == kTypeMp3)
            SelectRow(static_cast<long>(i));
    }
    return static_cast<int>(m_rows.size());
}

void CDirList::AddSelectedToQueue()
{
    // The count is read again for each row: the queue may list again.
    wxBusyCursor wait;
    g_queue.BeginAdding();
    for (size_t i = 0; i < m_rows.size(); ++i)
    {
        if (!IsSelected(static_cast<long>(i)))
            continue;
        const DirRow row = m_rows[i];
        if (row.type.empty())
            continue;
        if (row.type == kTypeMp3)
            g_queue.AddEntry(row.name, row.path, ADD_MP3);
        else
            g_queue.AddEntry(std::string(), row.path, ADD_FOLDER);
    }
    g_queue.EndAdding();
}

void CDirList::OpenSelectedRow()
{
    if (m_ctrl)
        OpenRow(m_ctrl->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED));
}

void CDirList::OpenFocusedRow()
{
    if (m_ctrl)
        OpenRow(m_ctrl->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED));
}

long CDirList::MenuRow() const
{
    if (!m_ctrl)
        return -1;
    const long focused = m_ctrl->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED);
    if (IsSelected(focused))
        return focused;
    return m_ctrl->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
}

bool CDirList::LeadsSomewhere(long row) const
{
    return row >= 0 && static_cast<size_t>(row) < m_rows.size() &&
           m_rows[static_cast<size_t>(row)].type != kTypeMp3;
}

void CDirList::OpenRow(long at)
{
    if (at < 0 || static_cast<size_t>(at) >= m_rows.size())
        return;
    const DirRow row = m_rows[static_cast<size_t>(at)];
    if (at == 0)
        GoUp();
    else if (row.type == kTypeMp3)
    {
        g_queue.AddEntry(row.name, row.path, ADD_MP3);
        return;
    }
    else if (!row.type.empty())
        EnterRow(row.name, ROW_FOLDER);
    else if (row.name == kLocMyDocument)
        EnterRow(row.name, ROW_MYDOCUMENT);
    else if (row.name == kLocMyComputer)
        EnterRow(row.name, ROW_MYCOMPUTER);
    else
        EnterRow(row.name, ROW_DRIVE);
    ShowLocation();
    SyncLocationBox();
}

void CDirList::OnContextCommand(int commandId)
{
    switch (commandId)
    {
    case ID_DIRLIST_OPEN:
        if (LeadsSomewhere(MenuRow()))
            OpenRow(MenuRow());
        break;
    case ID_DIRLIST_REFLASH:
        ShowLocation();
        break;
    case ID_DIRLIST_ADDTOQUEUE:
        AddSelectedToQueue();
        break;
    case ID_DIRLIST_PARENT:
        GoUp();
        ShowLocation();
        SyncLocationBox();
        break;
    case ID_DIRLIST_SELECTALL:
        SelectAllMedia();
        break;
    default:
        break;
    }
}

void CDirList::BeginDrag()
{
    m_bDragging = 1;
    if (m_ctrl && g_hDragCursor)
        m_ctrl->SetCursor(*g_hDragCursor);
}

void CDirList::UpdatePathLine()
{
    std::string location = IsLocationKey(m_location) ? Tr(m_location.c_str()) : DisplayableUtf8(m_location);
    if (!m_location.empty() && !IsLocationKey(m_location) && m_location.back() != '/')
        location += '/';
    // TRANSLATORS: the line under the directory list; %s is a folder or "My Computer".
    const std::string text = FormatText(Tr("Path: %s"), location.c_str());
    if (g_hDirStatus)
        g_hDirStatus->ChangeValue(ToDisplay(text));
}

void CDirList::SyncLocationBox()
{
    g_locationBox.RebuildTree();
    if (!m_location.empty() && !IsLocationKey(m_location))
        g_locationBox.ShowPath(m_location);
    if (m_location == kLocDesktop)
        g_locationBox.SelectDesktop();
    else if (m_location == kLocMyDocument)
        g_locationBox.SelectMyDocuments();
    else if (m_location == kLocMyComputer)
        g_locationBox.SelectMyComputer();
    if (CLocationBoxCtrl* box = g_locationBox.GetCtrl())
        box->Refresh();
}
