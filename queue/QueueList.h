// SPDX-License-Identifier: GPL-3.0-or-later
// The rename queue: the files put aside for renaming, one row each, with the
// outcome of their last rename and the name they had before it.
#pragma once

#include "queue/PathIndex.h"

#include "app/RowsList.h"
#include "core/RenameSession.h"
#include "naming/TagNameRule.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class wxMenu;
class wxWindow;

// One row, its texts in column order. Path is the row's identity.
struct QueueEntry
{
    std::string name;
    std::string state;
    std::string original;
    std::string path;
    // The folder holding it when it was queued, by identity in the session's
    // table: a rename or undo reaches that folder or nothing.
    std::uint32_t folder = CFolderTable::kNone;
    // While "Successful": the file renamed, and where that is recorded.
    FileId file;
    JournalRef journal;
    // While "Failed, Song name not found! " from ID3v1: the file has an
    // ID3v2 tag instead, which the State's hover text tells.
    bool onlyId3v2 = false;
};

enum
{
    COL_NAME = 0,
    COL_STATE = 1,
    COL_ORIGINAL = 2,
    COL_PATH = 3,
};

// Kinds of AddEntry.
enum
{
    ADD_FOLDER = 1,
    ADD_MP3 = 2,
};

// What a dropped path is.
enum
{
    PATH_OTHER = 0,
    PATH_FOLDER = 1,
    PATH_MP3 = 2,
};

// PATH_MP3 by the name alone (".mp3" in any case), else PATH_FOLDER for a
// folder or a path that does not exist, else PATH_OTHER.
int ClassifyPath(const std::string& path);

// The paths of a "text/uri-list" drop as raw bytes (percent escapes
// decoded), local files only, in the drop's order.
std::vector<std::string> ParseUriList(const std::string& uriList);

// The list window; it shows the rows of g_queue and passes what the user
// does in it to g_queue.
class CQueueListCtrl : public CRowsList
{
public:
    CQueueListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    wxString OnGetItemText(long item, long column) const override;
    int OnGetItemImage(long item) const override;

private:
    void OnContextMenu(wxContextMenuEvent& event);
    void OnMenu(wxCommandEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnListKeyDown(wxListEvent& event);
    void OnActivated(wxListEvent& event);
    void OnSelectionChanged(wxListEvent& event);
    void OnEndLabelEdit(wxListEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    // The State column is narrow: a state cut short shows whole as the
    // hover text of its cell.
    void ShowStateTip(const wxPoint& pos);
};

class CQueueList
{
public:
    CQueueList();
    ~CQueueList();
    CQueueList(const CQueueList&) = delete;
    CQueueList& operator=(const CQueueList&) = delete;

    void Attach(CQueueListCtrl* ctrl);
    void Detach();
    CQueueListCtrl* GetCtrl() const { return m_ctrl; }

    void InitContextMenu();
    // Queues a file, in folder when the caller knows it (as a search does).
    void AppendEntry(std::string name, std::string path, std::uint32_t folder = CFolderTable::kNone);
    bool IsQueued(const std::string& path) const;
    // The row whose Path is path, or -1.
    int RowOf(const std::string& path) const;
    int RemoveSelected();
    int SelectAll();
    void DeselectAll();
    int FirstSelectedRow() const;
    int GetCount() const;
    std::string GetName(int row) const;
    std::string GetPath(int row) const;
    void SelectRow(int row);
    // Makes row the list's current row and scrolls it into view.
    void FocusRow(int row);
    void UpdateCounts();
    void RecordManualRename(int row, const std::string& newName, const std::string& newPath);
    // Renames the file at path by hand, in the folder of row when row is its
    // row (-1 when it is not queued): 1 done, with newPath; 0 not.
    int RenameByHand(int row, const std::string& path, const std::string& newName, std::string& newPath);
    int AutoRenameSelected();
    int UndoSelected();

    // The way files come in: ADD_MP3 queues one file (name and full path),
    // ADD_FOLDER searches a folder with all its sub-folders. 0 when it did
    // nothing, else 1.
    int AddEntry(const std::string& name, const std::string& path, int kind);
    // Queues every MP3 file under folder, depth first; false when the folder
    // could not be entered.
    bool SearchFolder(const std::string& folder);
    // Many adds in a row: the window learns the new row count, and the
    // counts line is written, once at the end. Calls nest.
    void BeginAdding();
    void EndAdding();
    // Files and folders dropped from a file manager, in the drop's order.
    void DropFiles(const std::vector<std::string>& paths);
    // A drag from the directory list released over the queue.
    void EndDragFromDirList();

    // Manual rename of row by editing its name in place; newName as typed.
    void EndLabelEdit(int row, const std::string& newName, bool cancelled);
    // The queue's own commands and keys.
    void OnContextCommand(int commandId);
    void OnKey(int keyCode, bool control);
    // The tag editor follows the queue while it is shown.
    void EditorFollowClick();
    void EditorFollowKey(int keyCode);
    // Double click: the editor on the first selected row, near the pointer.
    void OpenEditorAtPointer(const wxPoint& pointer);

    const QueueEntry& Row(size_t i) const { return m_rows[i]; }
    // Shows, once a session, why renames are not being journaled; over the
    // queue's window unless another is given.
    void WarnIfNotJournaled(wxWindow* parent = nullptr);
    bool IsSelected(int row) const;

    int m_nSelected = 0;
    std::unique_ptr<wxMenu> m_menu;
    wxMenu* m_pPopup = nullptr;
    std::string m_strState;   // the last row's outcome

private:
    void SetPathOf(size_t row, const std::string& path);
    void RefreshRow(size_t row);
    void CloseEditorIfOpen();
    void SyncItemCount();
    void IndexRow(size_t row, std::size_t hash);
    void UnindexRow(size_t row);
    void RebuildIndex();

    CQueueListCtrl* m_ctrl = nullptr;
    std::vector<QueueEntry> m_rows;
    // IsQueued costs one lookup, not a walk of the rows.
    PathIndex m_index;
    // Every rename and undo goes through it, and into the journal.
    CRenameSession m_session;
    // The names Auto-Rename gives when Options says ID3v2: those of
    // mp3tavoly-rename --tag any.
    CTagNameRule m_fromId3v2{TagChoice::Any, nullptr};
    int m_adding = 0;              // depth of BeginAdding
    bool m_countsPending = false;  // UpdateCounts asked for while adding
};
