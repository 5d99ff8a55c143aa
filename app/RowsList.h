// SPDX-License-Identifier: GPL-3.0-or-later
// A report list whose rows live in a model of ours (a virtual list).
#pragma once

#include <wx/listctrl.h>

class CRowsList : public wxListCtrl
{
public:
    CRowsList(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size, long style);
    ~CRowsList() override;

    // Screen readers see the rows as a table of this name, cell by cell.
    void ExposeToScreenReaders(const wxString& name);

    // The inner window that shows the rows and gets their mouse events.
    wxWindow* GetRowsWindow() const;

protected:
    // Shows tip over the rows ("" for none), touching the window only when
    // it changes (each mouse move asks).
    void ShowRowsTip(const wxString& tip);

    // Whether a context-menu event should open the menu: once for each press
    // of the right button (the toolkit and the list each raise one for a
    // press on a row), and always from the keyboard.
    bool TakeContextMenu(const wxContextMenuEvent& event);

private:
    void OnRightDown(wxMouseEvent& event);

    bool m_menuArmed = false;
};
