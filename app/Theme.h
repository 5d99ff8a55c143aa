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
