#include "app/RowsList.h"

CRowsList::CRowsList(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size, long style)
    : wxListCtrl(parent, id, pos, size, style | wxLC_REPORT | wxLC_VIRTUAL)
{
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
