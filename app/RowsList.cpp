// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RowsList.h"

#include "app/Accessible.h"
#include "app/FocusMark.h"

CRowsList::CRowsList(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size, long style)
    : wxListCtrl(parent, id, pos, size, style | wxLC_REPORT | wxLC_VIRTUAL)
{
    // Bound here, this runs before the list's own handling of the press.
    GetRowsWindow()->Bind(wxEVT_RIGHT_DOWN, &CRowsList::OnRightDown, this);
    ShowFocusMark(this, GetRowsWindow());
}

CRowsList::~CRowsList()
{
    // Before the list's texts are gone with the classes derived from this one.
    StopExposingRows(GetRowsWindow());
}

void CRowsList::ExposeToScreenReaders(const wxString& name)
{
    ExposeRows(this, GetRowsWindow(), name);
}

void CRowsList::ShowRowsTip(const wxString& tip)
{
    wxWindow* rows = GetRowsWindow();
    if (rows->GetToolTipText() == tip)
        return;
    if (tip.empty())
        rows->UnsetToolTip();
    else
        rows->SetToolTip(tip);
}

wxWindow* CRowsList::GetRowsWindow() const
{
#ifndef __WXMSW__
    // The generic list's row window has no class information of its own;
    // it is the child that the list keeps as its main window.
    for (wxWindow* child : GetChildren())
    {
        if (static_cast<const void*>(child) == static_cast<const void*>(m_mainWin))
            return child;
    }
#endif
    return const_cast<CRowsList*>(this);
}

void CRowsList::OnRightDown(wxMouseEvent& event)
{
    // As desktop lists do: a row that is not selected becomes the selection
    // before its menu opens, so the menu's commands act on the row clicked.
    int flags = 0;
    const long row = HitTest(event.GetPosition(), flags);
    if (row >= 0 && (flags & wxLIST_HITTEST_ONITEM) &&
        GetItemState(row, wxLIST_STATE_SELECTED) == 0)
    {
        SetItemState(-1, 0, wxLIST_STATE_SELECTED);
        SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                     wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    }
    m_menuArmed = true;
    event.Skip();
}

bool CRowsList::TakeContextMenu(const wxContextMenuEvent& event)
{
    if (event.GetPosition() == wxDefaultPosition)
        return true;
    if (!m_menuArmed)
        return false;
    m_menuArmed = false;
    return true;
}
