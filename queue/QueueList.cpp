#include "queue/QueueList.h"

#include "app/Display.h"
#include "app/Globals.h"
#include "app/Ids.h"
#include "app/OptionsDlg.h"
#include "app/WarningBox.h"
#include "browser/DirList.h"
#include "browser/Locations.h"
#include "core/TagFile.h"
#include "editor/TagEditorDlg.h"
#include "platform/FileSystem.h"

#include <wx/menu.h>
#include <wx/textctrl.h>

static const char* const kNoFileInQueue = "No file in queue! ";
static const char* const kSelectFiles = "Please select files in the queue! ";

CQueueListCtrl::CQueueListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxListCtrl(parent, id, pos, size,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_EDIT_LABELS | wxLC_HRULES | wxLC_VRULES |
                     wxBORDER_THEME)
{
}

wxString CQueueListCtrl::OnGetItemText(long item, long column) const
{
    if (item < 0 || item >= g_queue.GetCount())
        return wxString();
    const QueueEntry& row = g_queue.Row(static_cast<size_t>(item));
    switch (column)
    {
    case COL_NAME: return ToDisplay(row.name);
    case COL_STATE: return ToDisplay(row.state);
    case COL_ORIGINAL: return ToDisplay(row.original);
    case COL_PATH: return ToDisplay(row.path);
    default: return wxString();
    }
}

int CQueueListCtrl::OnGetItemImage(long) const
{
    return IMG_MP3;
}

CQueueList::CQueueList() = default;
CQueueList::~CQueueList() = default;

void CQueueList::Attach(CQueueListCtrl* ctrl)
{
    m_ctrl = ctrl;
    if (m_ctrl)
        m_ctrl->SetItemCount(static_cast<long>(m_rows.size()));
}

void CQueueList::Detach()
{
    // The rows live only as long as the list window.
    m_rows.clear();
    m_paths.clear();
    m_nSelected = 0;
    m_ctrl = nullptr;
    m_menu.reset();
    m_pPopup = nullptr;
}

void CQueueList::InitContextMenu()
{
    m_menu = std::make_unique<wxMenu>();
    m_menu->Append(MenuItemId(ID_QUEUE_AUTORENAME), "Auto-Rename", "Start to rename the files selected in the queue.");
    m_menu->Append(MenuItemId(ID_QUEUE_UNDO), "Undo", "Undo the renaming.");
    m_menu->Append(MenuItemId(ID_QUEUE_REMOVE), "Remove", "Remove the selected files from the queue.");
    m_menu->Append(MenuItemId(ID_QUEUE_PLAY), "Play", "Play this media file .");
    m_menu->Append(MenuItemId(ID_QUEUE_EDITTAG), "Edit Id3v1 tag", "Edit the Id3v1 tag.");
    m_menu->Append(MenuItemId(ID_QUEUE_SELECTALL), "Select all files", "Select all the files in the queue.");
    m_pPopup = m_menu.get();
    m_nSelected = 0;
}

void CQueueList::AppendEntry(const std::string& name, const std::string& path)
{
    if (IsQueued(path))
        return;
    m_rows.push_back(QueueEntry{name, kStateWaiting, "-", path});
    m_paths.insert(path);
    if (m_ctrl)
        m_ctrl->SetItemCount(static_cast<long>(m_rows.size()));
}

bool CQueueList::IsQueued(const std::string& path) const
{
    return m_paths.count(path) != 0;
}

bool CQueueList::IsSelected(int row) const
{
    return m_ctrl && m_ctrl->GetItemState(row, wxLIST_STATE_SELECTED) != 0;
}

int CQueueList::RemoveSelected()
{
    long n = GetCount();
    if (n == 0)
    {
        ShowWarningBox(kNoFileInQueue);
        return 0;
    }
    int removed = 0;
    for (long k = 0; k < n; ++k)
    {
        if (!IsSelected(static_cast<int>(k)))
            continue;
        m_paths.erase(m_rows[static_cast<size_t>(k)].path);
        m_rows.erase(m_rows.begin() + k);
        if (m_ctrl)
            m_ctrl->DeleteItem(k);
        --k;
        --n;
        ++removed;
    }
    if (removed == 0)
    {
        ShowWarningBox(kSelectFiles);
        UpdateCounts();
        return 1;
    }
    CloseEditorIfVisible();
    UpdateCounts();
    return 1;
}

int CQueueList::SelectAll()
{
    const int n = GetCount();
    if (n == 0)
    {
        ShowWarningBox(kNoFileInQueue);
        return 0;
    }
    for (int i = 0; i < n; ++i)
        SelectRow(i);
    return n;
}

void CQueueList::DeselectAll()
{
    if (!m_ctrl)
        return;
    for (int i = 0; i < GetCount(); ++i)
        m_ctrl->SetItemState(i, 0, wxLIST_STATE_SELECTED);
}

int CQueueList::FirstSelectedRow() const
{
    if (!m_ctrl)
        return -1;
    return static_cast<int>(m_ctrl->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED));
}

int CQueueList::GetCount() const
{
    return static_cast<int>(m_rows.size());
}

std::string CQueueList::GetName(int row) const
{
    if (row < 0 || row >= GetCount())
        return std::string();
    return m_rows[static_cast<size_t>(row)].name;
}

std::string CQueueList::GetPath(int row) const
{
    if (row < 0 || row >= GetCount())
        return std::string();
    return m_rows[static_cast<size_t>(row)].path;
}

void CQueueList::SelectRow(int row)
{
    if (m_ctrl && row >= 0 && row < GetCount())
        m_ctrl->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
}

void CQueueList::UpdateCounts()
{
    m_nSelected = m_ctrl ? m_ctrl->GetSelectedItemCount() : 0;
    const std::string text = std::to_string(GetCount()) + " files total, " +
                             std::to_string(m_nSelected) + " files selected.";
    if (g_hQueueStatus)
        g_hQueueStatus->ChangeValue(ToDisplay(text));
}

void CQueueList::SetPathOf(size_t row, const std::string& path)
{
    m_paths.erase(m_rows[row].path);
    m_rows[row].path = path;
    m_paths.insert(path);
}

void CQueueList::RefreshRow(size_t row)
{
    if (m_ctrl)
        m_ctrl->RefreshItem(static_cast<long>(row));
}

void CQueueList::RecordManualRename(int row, const std::string& newName, const std::string& newPath)
{
    if (row < 0 || row >= GetCount())
        return;
    QueueEntry& e = m_rows[static_cast<size_t>(row)];
    e.original = e.name;
    e.state = kStateRenamedManually;
    SetPathOf(static_cast<size_t>(row), newPath);
    m_rows[static_cast<size_t>(row)].name = newName;
    RefreshRow(static_cast<size_t>(row));
    g_dirList.ShowLocation();
}

void CQueueList::CloseEditorIfVisible()
{
    if (g_tagEditor.IsVisible())
        g_tagEditor.Close();
}

int CQueueList::AutoRenameSelected()
{
    if (GetCount() == 0)
    {
        ShowWarningBox(kNoFileInQueue);
        return 0;
    }
    int selected = 0;
    int read = 0;
    for (int i = 0; i < GetCount(); ++i)
    {
        if (!IsSelected(i))
            continue;
        ++selected;
        QueueEntry& e = m_rows[static_cast<size_t>(i)];
        if (e.state == kStateSuccessful)
            continue;
        std::string newName;
        std::string newPath;
        m_strState = AutoRenameFile(e.path, g_optionsDlg.m_bWithArtist != 0, newName, newPath,
                                    m_strTitle, m_strArtist);
        if (m_strState == kStateSongNotFound || m_strState == kStateUnwritable)
        {
            e.state = m_strState;
            RefreshRow(static_cast<size_t>(i));
            continue;
        }
        ++read;
        if (m_strState != kStateSuccessful)
        {
            e.state = kStateRenameFailed;
        }
        else
        {
            e.original = e.name;
            e.name = newName;
            e.state = kStateSuccessful;
            SetPathOf(static_cast<size_t>(i), newPath);
        }
        RefreshRow(static_cast<size_t>(i));
    }
    if (selected == 0)
    {
        ShowWarningBox(kSelectFiles);
        return 0;
    }
    if (read > 0)
    {
        g_dirList.ShowLocation();
        CloseEditorIfVisible();
    }
    return 1;
}

int CQueueList::UndoSelected()
{
    if (GetCount() == 0)
    {
        ShowWarningBox(kNoFileInQueue);
        return 0;
    }
    int selected = 0;
    int undone = 0;
    for (int i = 0; i < GetCount(); ++i)
    {
        if (!IsSelected(i))
            continue;
        ++selected;
        QueueEntry& e = m_rows[static_cast<size_t>(i)];
        if (e.state == kStateSuccessful && !e.original.empty())
        {
            ++undone;
            std::string target;
            if (RenameInFolder(e.path, e.original, target) == 1)
            {
                e.name = e.original;
                e.state = kStateWaiting;
                e.original = "-";
                SetPathOf(static_cast<size_t>(i), target);
            }
        }
        else
        {
            e.state = kStateWaiting;
            e.original = "-";
        }
        RefreshRow(static_cast<size_t>(i));
    }
    if (selected == 0)
    {
        ShowWarningBox(kSelectFiles);
        return 0;
    }
    if (undone > 0)
    {
        g_dirList.ShowLocation();
        CloseEditorIfVisible();
    }
    return 1;
}

int ClassifyPath(const std::string& path)
{
    (void)path;
    return PATH_OTHER;
}

int CQueueList::AddEntry(const std::string& name, const std::string& path, int kind)
{
    if (path.empty())
        return 0;
    if (kind == ADD_MP3)
    {
        if (name.empty())
            return 0;
        AppendEntry(name, path);
    }
    else if (kind == ADD_FOLDER)
    {
        SearchFolder(path);
    }
    UpdateCounts();
    return 1;
}

bool CQueueList::SearchFolder(const std::string& folder)
{
    (void)folder;
    return false;
}

void CQueueList::DropFiles(const std::vector<std::string>& paths)
{
    (void)paths;
}

void CQueueList::EndDragFromDirList()
{
}
