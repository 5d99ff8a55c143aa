// SPDX-License-Identifier: GPL-3.0-or-later
// Where the keyboard is in a list: the list frames its focused row itself;
// these make sure there is one, and frame an empty list that has the focus.
#pragma once

class wxListCtrl;
class wxWindow;

// Frames the list's row window while it has the focus and no rows, and gives
// it a focused row when it gains the focus with rows but none focused.
void ShowFocusMark(wxListCtrl* list, wxWindow* rows);

// The first row becomes the focused one (not selected) when the list has the
// keyboard focus and rows, but no focused row: after a new listing the arrow
// keys and Return then have a row to start from.
void KeepFocusRow(wxListCtrl* list, wxWindow* rows);
