// SPDX-License-Identifier: GPL-3.0-or-later
// The directory list: folders and MP3 files of one location at a time.
#pragma once

#include "app/RowsList.h"

#include <memory>
#include <string>
#include <vector>

class wxMenu;
class wxCursor;

// One row: display name, type text, full path, image. Rows are told apart by
// their texts: Type "Mp3" is a file, another non-empty Type a folder, an
// empty Type one of the special rows (parent, "My Document", "My Computer",
// a drive).
struct DirRow
{
    std::string name;
    std::string type;
    std::string path;
    int image = 0;
};

class CDirListCtrl : public CRowsList
{
public:
    CDirListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    wxString OnGetItemText(long item, long column) const override;
    int OnGetItemImage(long item) const override;
    // Widens the columns where their headings or the rows' own texts (the
    // parent and place rows, the types) would be cut in the user's language.
    void FitColumns();

private:
    void OnDoubleClick(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    // The whole name of a row whose name is cut, over its Name cell.
    void ShowNameTip(const wxPoint& pos);
    void OnKeyDown(wxKeyEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);
    void OnMenu(wxCommandEvent& event);
    void OnBeginDrag(wxListEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);

    bool m_dragBegun = false;   // since the left button went down
};

class CDirList
{
public:
    CDirList();
    ~CDirList();
    CDirList(const CDirList&) = delete;
    CDirList& operator=(const CDirList&) = delete;

    void Attach(CDirListCtrl* ctrl);
    void Detach();
    CDirListCtrl* GetCtrl() const { return m_ctrl; }

    // The context menu and the drag cursor, once the list exists.
    void InitMenuAndCursor();

    // Clears the list, writes the path line and lists m_location.
    void ShowLocation();
    // The drives, after the parent and "My Document" rows.
    void ListDrives();
    // Folders, then MP3 files, after the parent row; false when the folder
    // could not be read (the parent row stays).
    bool ListFolder(const std::string& path);
    void GoUp();
    void EnterRow(const std::string& name, int kind);
    // Adds every MP3 row to the selection; returns the row count.
    int SelectAllMedia();
    // Adds the selected MP3 and folder rows to the queue, in list order.
    void AddSelectedToQueue();
    void UpdatePathLine();
    // Makes the location box show m_location.
    void SyncLocationBox();

    // A double click: opens the first selected row.
    void OpenSelectedRow();
    // Return: opens the row that has the keyboard focus.
    void OpenFocusedRow();
    // Goes into a folder, drive or place, up from the parent row, or queues
    // an MP3 file.
    void OpenRow(long row);
    // The row the context menu acts on: the focused row when it is
    // selected, else the first selected one; -1 for none.
    long MenuRow() const;
    // Whether opening the row goes somewhere (it is no MP3 file).
    bool LeadsSomewhere(long row) const;
    // The commands of the context menu (ID_DIRLIST_...).
    void OnContextCommand(int commandId);
    // The list has started a drag of its selected rows.
    void BeginDrag();

    size_t RowCount() const { return m_rows.size(); }
    const DirRow& Row(size_t i) const { return m_rows[i]; }
    bool IsSelected(long row) const;
    void SelectRow(long row, bool selected = true);

    std::string m_location;
    int m_bDragging = 0;
    std::string m_folder;
    std::unique_ptr<wxMenu> m_menu;
    wxMenu* m_pPopup = nullptr;

private:
    void SetRows(std::vector<DirRow> rows);

    CDirListCtrl* m_ctrl = nullptr;
    std::vector<DirRow> m_rows;
};

// The drag cursor, loaded with the directory list's menu.
extern wxCursor* g_hDragCursor;
