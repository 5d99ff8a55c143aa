// SPDX-License-Identifier: GPL-3.0-or-later
// The queue's list window: what the user does in it goes to g_queue.
#include "queue/QueueList.h"

#include "app/Display.h"
#include "app/Globals.h"
#include "app/Ids.h"
#include "app/WarningBox.h"
#include "browser/DirList.h"
#include "browser/Locations.h"
#include "core/TagFile.h"
#include "editor/TagEditorDlg.h"

#include <wx/dataobj.h>
#include <wx/dnd.h>
#include <wx/menu.h>
#include <wx/utils.h>

namespace
{
// Takes the drop's URI list itself, so names that are not UTF-8 arrive as
// their own bytes.
class CQueueDropTarget : public wxDropTarget
{
public:
    CQueueDropTarget() : wxDropTarget(new wxCustomDataObject(wxDataFormat("text/uri-list"))) {}

    wxDragResult OnData(wxCoord, wxCoord, wxDragResult result) override
    {
        if (!GetData())
            return wxDragNone;
        const auto* data = static_cast<wxCustomDataObject*>(GetDataObject());
        const std::string list(static_cast<const char*>(data->GetData()), data->GetSize());
        g_queue.DropFiles(ParseUriList(list));
        return result == wxDragMove ? wxDragCopy : result;
    }
};
} // namespace

CQueueListCtrl::CQueueListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : CRowsList(parent, id, pos, size, wxLC_EDIT_LABELS | wxLC_HRULES | wxLC_VRULES | wxBORDER_THEME)
{
    Bind(wxEVT_CONTEXT_MENU, &CQueueListCtrl::OnContextMenu, this);
    Bind(wxEVT_MENU, &CQueueListCtrl::OnMenu, this);
    // The key event itself, for its own modifier flags; the list passes it
    // here before its list key event.
    Bind(wxEVT_KEY_DOWN, &CQueueListCtrl::OnKeyDown, this);
    Bind(wxEVT_LIST_KEY_DOWN, &CQueueListCtrl::OnListKeyDown, this);
    Bind(wxEVT_LIST_ITEM_ACTIVATED, &CQueueListCtrl::OnActivated, this);
    Bind(wxEVT_LIST_ITEM_SELECTED, &CQueueListCtrl::OnSelectionChanged, this);
    Bind(wxEVT_LIST_ITEM_DESELECTED, &CQueueListCtrl::OnSelectionChanged, this);
    Bind(wxEVT_LIST_END_LABEL_EDIT, &CQueueListCtrl::OnEndLabelEdit, this);
    // Mouse events arrive at the list's inner window.
    wxWindow* rows = GetRowsWindow();
    rows->Bind(wxEVT_LEFT_UP, &CQueueListCtrl::OnLeftUp, this);
    rows->Bind(wxEVT_MOTION, &CQueueListCtrl::OnMotion, this);
    // The count of selected rows also changes without an event per row
    // (ranges by Shift-click or keys).
    rows->Bind(wxEVT_KEY_UP, [](wxKeyEvent& event) {
        g_queue.UpdateCounts();
        event.Skip();
    });
    SetDropTarget(new CQueueDropTarget);
}

wxString CQueueListCtrl::OnGetItemText(long item, long column) const
{
    if (item < 0 || item >= g_queue.GetCount())
        return wxString();
    const QueueEntry& row = g_queue.Row(static_cast<size_t>(item));
    switch (column)
    {
    case COL_NAME: return ToDisplay(row.name);
    // Stored in English, shown in the user's language.
    case COL_STATE: return TrUi(row.state.c_str());
    case COL_ORIGINAL: return ToDisplay(row.original);
    case COL_PATH: return ToDisplay(row.path);
    default: return wxString();
    }
}

int CQueueListCtrl::OnGetItemImage(long) const
{
    return IMG_MP3;
}

void CQueueListCtrl::OnContextMenu(wxContextMenuEvent& event)
{
    // Wherever the click is, on a row or not, the whole menu.
    if (TakeContextMenu(event) && g_queue.m_pPopup)
        PopupMenu(g_queue.m_pPopup);
}

void CQueueListCtrl::OnMenu(wxCommandEvent& event)
{
    g_queue.OnContextCommand(CommandIdOf(event.GetId()));
}

void CQueueListCtrl::OnKeyDown(wxKeyEvent& event)
{
    g_queue.OnKey(event.GetKeyCode(), event.ControlDown());
    event.Skip();
}

void CQueueListCtrl::OnListKeyDown(wxListEvent& event)
{
    g_queue.EditorFollowKey(event.GetKeyCode());
    event.Skip();
}

void CQueueListCtrl::OnActivated(wxListEvent& event)
{
    g_queue.OpenEditorAtPointer(wxGetMousePosition());
    event.Skip();
}

void CQueueListCtrl::OnSelectionChanged(wxListEvent& event)
{
    g_queue.UpdateCounts();
    event.Skip();
}

void CQueueListCtrl::OnEndLabelEdit(wxListEvent& event)
{
    // The label changes only through the row update after a rename.
    event.Veto();
    const int row = static_cast<int>(event.GetIndex());
    // A name that is not UTF-8 shows decoded; left as shown it keeps its bytes.
    std::string name = FromUser(event.GetLabel());
    if (row >= 0 && row < g_queue.GetCount()
        && event.GetLabel() == ToDisplay(g_queue.GetName(row)))
        name = g_queue.GetName(row);
    g_queue.EndLabelEdit(row, name, event.IsEditCancelled());
}

void CQueueListCtrl::OnLeftUp(wxMouseEvent& event)
{
    g_queue.EndDragFromDirList();
    g_queue.EditorFollowClick();
    g_queue.UpdateCounts();
    event.Skip();
}

void CQueueListCtrl::OnMotion(wxMouseEvent& event)
{
    wxWindow* rows = GetRowsWindow();
    if (g_dirList.m_bDragging == 1 && g_hDragCursor)
        rows->SetCursor(*g_hDragCursor);
    else
        rows->SetCursor(wxNullCursor);
    ShowStateTip(event.GetPosition());
    event.Skip();
}

void CQueueListCtrl::ShowStateTip(const wxPoint& pos)
{
    int flags = 0;
    const long row = HitTest(pos, flags);
    const int x = CalcUnscrolledPosition(pos).x;
    const int left = GetColumnWidth(COL_NAME);
    const int width = GetColumnWidth(COL_STATE);
    wxString tip;
    if (row >= 0 && row < g_queue.GetCount() && x >= left && x < left + width)
    {
        const QueueEntry& e = g_queue.Row(static_cast<size_t>(row));
        const wxString state = TrUi(e.state.c_str());
        // Room for the cell's own margins.
        if (GetTextExtent(state).x + 8 > width)
            tip = state;
        if (e.onlyId3v2 && e.state == kStateSongNotFound)
            tip = state + "\n"
                  // TRANSLATORS: the hover text of a State "Failed, Song name not found! "; quote the
                  // Option button and the Options choice as they are translated.
                  + TrUi("This file has no ID3v1 tag but an ID3v2 tag. To name files after their ID3v2 "
                         "tag, press \"Option\" and choose \"the ID3v2 tag where there is one\".");
    }
    ShowRowsTip(tip);
}

void CQueueList::EndLabelEdit(int row, const std::string& newName, bool cancelled)
{
    if (cancelled || newName.empty())
        return;
    {
        ScopedWarningParent over(m_ctrl);
        if (!CheckMp3FileName(newName))
            return;
    }
    // The row whose label was edited; the first selected row may be another.
    if (row < 0 || row >= GetCount())
        return;
    std::string newPath;
    const int moved = RenameByHand(row, GetPath(row), newName, newPath);
    if (moved == 1)
    {
        // Hidden, not closed: restoring the main window brings it back.
        g_tagEditor.Hide();
        RecordManualRename(row, newName, newPath);
    }
    WarnIfNotJournaled();
}
