// SPDX-License-Identifier: GPL-3.0-or-later
// Lets the desktop's controls fit the compact places the windows give them.
#pragma once

// Call once after the toolkit has started.
void ApplyCompactTheme();

class wxWindow;

// The main window runs modally, and its grab would take every click and key
// from the modeless windows it owns (help, how-to, tag editor). Call after
// showing such a window: a window group of its own keeps it usable.
void KeepUsableBesideModalMain(wxWindow* window);

// For an entry only a few characters wide: less room beside the text, so
// the characters themselves fit.
void MakeEntryTight(wxWindow* entry);

class wxString;
class wxSize;

// Measures for fitting translated texts (TextFit): the size text takes in the
// font the control draws its text in, wrapped at wrapWidth pixels when that
// is positive; and the size the control asks for with the text it shows now.
wxSize DrawnTextSize(wxWindow* control, const wxString& text, int wrapWidth = 0);
wxSize NaturalSize(wxWindow* control);

// Centres the lines of a button's text on one another.
void CentreTextLines(wxWindow* control);
