// A report list whose rows live in a model of ours (a virtual list).
#pragma once

#include <wx/listctrl.h>

class CRowsList : public wxListCtrl
{
public:
    CRowsList(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size, long style);

    // The inner window that shows the rows and gets their mouse events.
    wxWindow* GetRowsWindow() const;
};
