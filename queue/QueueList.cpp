// SPDX-License-Identifier: GPL-3.0-or-later
#include "queue/QueueList.h"

#include "app/Display.h"
#include "app/Globals.h"
#include "app/Ids.h"
#include "app/WarningBox.h"
#include "browser/DirList.h"
#include "browser/Locations.h"
#include "core/TagFile.h"
#include "core/Translate.h"
#include "editor/TagEditorDlg.h"

#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/menu.h>
#include <wx/textctrl.h>


// TRANSLATORS: a warning box; keep the trailing blank.
static const char* const kNoFileInQueue = N_("No file in queue! ");
// TRANSLATORS: a warning box; keep the trailing blank.
static const char* const kSelectFiles = N_("Please select files in the queue! ");

CQueueList::CQueueList() = default;
CQueueList::~CQueueList() = default;

void CQueueList::Attach(CQueueListCtrl* ctrl)
{
    m_ctrl = ctrl;
    SyncItemCount();
}

void CQueueList::Detach()
{
    // The rows live only as long as the list window.
    m_rows.clear();
    m_index.Clear();
    m_adding = 0;
    m_countsPending = false;
    m_nSelected = 0;
    m_ctrl = nullptr;
    m_menu.reset();
    m_pPopup = nullptr;
}

void CQueueList::InitContextMenu()
{
    m_menu = std::make_unique<wxMenu>();
    // TRANSLATORS: the queue's context menu: an item, then its help text.
    m_menu->Append(MenuItemId(ID_QUEUE_AUTORENAME), TrUi("Auto-Rename"),
                   TrUi("Start to rename the files selected in the queue."));
    m_menu->Append(MenuItemId(ID_QUEUE_UNDO), TrUi("Undo"), TrUi("Undo the renaming."));
    m_menu->Append(MenuItemId(ID_QUEUE_REMOVE), TrUi("Remove"), TrUi("Remove the selected files from the queue."));
    m_menu->Append(MenuItemId(ID_QUEUE_PLAY), TrUi("Play"), TrUi("Play this media file ."));
    m_menu->Append(MenuItemId(ID_QUEUE_EDITTAG), TrUi("Edit Id3v1 tag"), TrUi("Edit the Id3v1 tag."));
    m_menu->Append(MenuItemId(ID_QUEUE_SELECTALL), TrUi("Select all files"),
                   TrUi("Select all the files in the queue."));
    m_pPopup = m_menu.get();
    m_nSelected = 0;
}

void CQueueList::SyncItemCount()
{
    if (m_ctrl && m_adding == 0)
        m_ctrl->SetItemCount(static_cast<long>(m_rows.size()));
}

void CQueueList::IndexRow(size_t row, std::size_t hash)
{
    m_index.Insert(static_cast<std::uint32_t>(row), hash);
}

void CQueueList::UnindexRow(size_t row)
{
    m_index.Erase(static_cast<std::uint32_t>(row), PathIndex::Hash(m_rows[row].path));
}

void CQueueList::RebuildIndex()
{
    m_index.Clear();
    m_index.Reserve(m_rows.size());
    for (size_t i = 0; i < m_rows.size(); ++i)
        IndexRow(i, PathIndex::Hash(m_rows[i].path));
}

void CQueueList::AppendEntry(std::string name, std::string path, std::uint32_t folder)
{
    const std::size_t hash = PathIndex::Hash(path);
    if (m_index.Find(path, hash, [this](std::uint32_t row) -> const std::string& {
            return m_rows[row].path;
        }) != PathIndex::kNone)
        return;
    if (folder == CFolderTable::kNone)
        folder = m_session.FolderOf(path);
    m_rows.push_back(QueueEntry{std::move(name), kStateWaiting, "-", std::move(path), folder, FileId(), JournalRef()});
    IndexRow(m_rows.size() - 1, hash);
    SyncItemCount();
}

bool CQueueList::IsQueued(const std::string& path) const
{
    return m_index.Find(path, PathIndex::Hash(path), [this](std::uint32_t row) -> const std::string& {
        return m_rows[row].path;
    }) != PathIndex::kNone;
}

int CQueueList::RowOf(const std::string& path) const
{
    const std::uint32_t row = m_index.Find(path, PathIndex::Hash(path),
                                           [this](std::uint32_t r) -> const std::string& {
                                               return m_rows[r].path;
                                           });
    return row == PathIndex::kNone ? -1 : static_cast<int>(row);
}

bool CQueueList::IsSelected(int row) const
{
    return m_ctrl && m_ctrl->GetItemState(row, wxLIST_STATE_SELECTED) != 0;
}

int CQueueList::RemoveSelected()
{
    const size_t n = m_rows.size();
    if (n == 0)
    {
        ShowWarningBox(Tr(kNoFileInQueue), m_ctrl);
        return 0;
    }
    // One pass keeps the rows that are not selected, in their order: the same
    // rows go as with deleting one by one, without shifting the rest each time.
    size_t kept = 0;
    for (size_t k = 0; k < n; ++k)
    {
        if (IsSelected(static_cast<int>(k)))
            continue;
        if (kept != k)
            m_rows[kept] = std::move(m_rows[k]);
        ++kept;
    }
    const size_t removed = n - kept;
    if (removed == 0)
    {
        ShowWarningBox(Tr(kSelectFiles), m_ctrl);
        UpdateCounts();
        return 1;
    }
    m_rows.resize(kept);
    RebuildIndex();
    if (m_ctrl)
    {
        // Every selected row went; nothing left is selected.
        m_ctrl->SetItemState(-1, 0, wxLIST_STATE_SELECTED);
        SyncItemCount();
        m_ctrl->Refresh();
    }
    CloseEditorIfOpen();
    UpdateCounts();
    return 1;
}

int CQueueList::SelectAll()
{
    const int n = GetCount();
    if (n == 0)
    {
        ShowWarningBox(Tr(kNoFileInQueue), m_ctrl);
        return 0;
    }
    // Adds the selected bit to every row; focus and other bits stay.
    if (m_ctrl)
        m_ctrl->SetItemState(-1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    UpdateCounts();
    return n;
}

void CQueueList::DeselectAll()
{
    if (!m_ctrl || m_rows.empty())
        return;
    m_ctrl->SetItemState(-1, 0, wxLIST_STATE_SELECTED);
    // Clearing every row at once raises no event per row.
    UpdateCounts();
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

void CQueueList::FocusRow(int row)
{
    if (!m_ctrl || row < 0 || row >= GetCount())
        return;
    m_ctrl->SetItemState(row, wxLIST_STATE_FOCUSED, wxLIST_STATE_FOCUSED);
    m_ctrl->EnsureVisible(row);
}

void CQueueList::BeginAdding()
{
    ++m_adding;
}

void CQueueList::EndAdding()
{
    if (m_adding == 0 || --m_adding > 0)
        return;
    m_session.Release();
    SyncItemCount();
    if (m_countsPending)
    {
        m_countsPending = false;
        UpdateCounts();
    }
}

void CQueueList::UpdateCounts()
{
    if (m_adding > 0)
    {
        m_countsPending = true;
        return;
    }
    m_nSelected = m_ctrl ? m_ctrl->GetSelectedItemCount() : 0;
    // TRANSLATORS: the first half of the counts line under the queue ("12
    // files total, 3 files selected."); English says "files" for every count.
    const std::string text = FormatText(TrN("%d files total, ", "%d files total, ",
                                            static_cast<unsigned long>(GetCount())), GetCount()) +
                             // TRANSLATORS: the second half of the counts line.
                             FormatText(TrN("%d files selected.", "%d files selected.",
                                            static_cast<unsigned long>(m_nSelected)), m_nSelected);
    if (g_hQueueStatus)
        g_hQueueStatus->ChangeValue(ToDisplay(text));
}

void CQueueList::SetPathOf(size_t row, const std::string& path)
{
    UnindexRow(row);
    m_rows[row].path = path;
    IndexRow(row, PathIndex::Hash(path));
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
    e.file = FileId();
    e.journal = JournalRef();   // the window's Undo does not take it back
    SetPathOf(static_cast<size_t>(row), newPath);
    e.name = newName;
    RefreshRow(static_cast<size_t>(row));
    g_dirList.ShowLocation();
}

int CQueueList::RenameByHand(int row, const std::string& path, const std::string& newName, std::string& newPath)
{
    std::uint32_t unknown = CFolderTable::kNone;
    const bool queued = row >= 0 && row < GetCount() && m_rows[static_cast<size_t>(row)].path == path;
    std::uint32_t& folder = queued ? m_rows[static_cast<size_t>(row)].folder : unknown;
    const int moved = m_session.RenameByHand(folder, path, newName, newPath);
    m_session.Release();
    return moved;
}

void CQueueList::CloseEditorIfOpen()
{
    // Hidden but open counts too: its row may now be another file.
    if (g_tagEditor.IsVisible() || g_tagEditor.m_isOpen == 1)
        g_tagEditor.Close();
}

void CQueueList::OnContextCommand(int commandId)
{
    switch (commandId)
    {
    case ID_QUEUE_AUTORENAME: AutoRenameSelected(); break;
    case ID_QUEUE_UNDO: UndoSelected(); break;
    case ID_QUEUE_REMOVE:
        RemoveSelected();
        UpdateCounts();
        break;
    case ID_QUEUE_SELECTALL: SelectAll(); break;
    case ID_QUEUE_PLAY: SendToMainWindow(WM_QUEUEPLAY); break;
    case ID_QUEUE_EDITTAG: SendToMainWindow(WM_QUEUEEDITTAG); break;
    default: break;
    }
}

void CQueueList::OnKey(int keyCode, bool control)
{
    if (control && (keyCode == 'A' || keyCode == 'a'))
        SelectAll();
    else if (keyCode == WXK_DELETE || keyCode == WXK_NUMPAD_DELETE)
        RemoveSelected();
}

void CQueueList::EditorFollowClick()
{
    if (!g_tagEditor.IsVisible())
        return;
    const int row = FirstSelectedRow();
    if (row < 0)
        return;
    g_tagEditor.ShowTag(GetPath(row));
    g_tagEditor.m_row = row;
}

void CQueueList::EditorFollowKey(int keyCode)
{
    if (!g_tagEditor.IsVisible() || g_tagEditor.m_row == -1)
        return;
    int row = g_tagEditor.m_row;
    if (keyCode == WXK_UP && row > 0)
        --row;
    else if (keyCode == WXK_DOWN && row < GetCount() - 1)
        ++row;
    g_tagEditor.m_row = row;
    g_tagEditor.ShowTag(GetPath(row));
}

void CQueueList::OpenEditorAtPointer(const wxPoint& p)
{
    const int row = FirstSelectedRow();
    if (row < 0)
        return;
    g_tagEditor.m_row = row;
    g_tagEditor.ShowTag(GetPath(row));

    const wxWindow* editor = g_tagEditor.GetWindow();
    if (!editor)
        return;
    const wxRect e = editor->GetRect();
    const int display = wxDisplay::GetFromPoint(p);
    const wxRect a = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
    const int right = a.x + a.width;
    const int bottom = a.y + a.height;
    // Beside the pointer, and to its other side near the work area's edges.
    int x = e.x;
    if (p.x + e.width > right + 30)
        x = p.x - e.width - 15;
    else if (p.x > e.x)
        x = p.x + 20;
    else if (p.x < e.x - 400)
        x = p.x + 200;
    int y = e.y;
    if (p.y + e.height > bottom + 30)
        y = p.y - e.height - 15;
    else if (p.y > e.y)
        y = p.y + 20;
    else if (p.y < e.y - 90)
        y = p.y + 20;
    g_tagEditor.Move(wxPoint(x, y));
    g_tagEditor.Show();
    g_tagEditor.m_isOpen = 1;
}
