// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader learns of our windows: names for controls that show
// no label of their own, and the rows and cells of our lists, which wx draws
// itself and so tells assistive technology nothing about.
#pragma once

#include <wx/string.h>

class wxListCtrl;
class wxWindow;

enum AccessibleRole
{
    ACC_ROLE_AS_IS = 0,
    ACC_ROLE_COMBO_BOX,   // a control of ours that acts as one
    ACC_ROLE_LINK,
};

// The name (and, for a control of ours, the role) a screen reader gives
// window.
void SetAccessibleName(wxWindow* window, const wxString& name, AccessibleRole role = ACC_ROLE_AS_IS);

// Names every field of parent after the text label created just before it
// (its visible label), as a screen reader expects of a labelled field; the
// label says which field it is for.
void NameFieldsByTheirLabels(wxWindow* parent);

// What a screen reader says window shows, for a control of ours that draws
// its own text; nothing happens when the text is the same.
void SetAccessibleDescription(wxWindow* window, const wxString& text);

// Exposes the rows of a report list as an accessible table named name:
// one cell per row and column holding the list's text, following the list's
// rows, selection and current row. rowsWindow is the window that shows the
// rows and takes the focus.
void ExposeRows(wxListCtrl* list, wxWindow* rowsWindow, const wxString& name);
// The list is going: its table and cells stop answering.
void StopExposingRows(wxWindow* rowsWindow);
