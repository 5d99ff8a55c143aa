// SPDX-License-Identifier: GPL-3.0-or-later
// Room for translated texts. The windows are laid out in dialog units for
// their English texts; a translation wider than its control wraps, where the
// control is high enough for two lines (at a blank, or at a soft hyphen a
// translator put in), or widens the control into the room beside it, moving
// and narrowing the fields and sliders of its row when it must; a row that
// cannot fit even so widens the window. Nothing moves while no catalogue
// answers, so English keeps every place exactly.
#pragma once

#include <map>
#include <vector>
#include <wx/string.h>

class CRowsList;
class wxWindow;

// The texts a control shows at times besides its label now (the Pause button
// reads Resume while paused).
using OtherTexts = std::map<wxWindow*, std::vector<wxString>>;

// Fits the texts of window's buttons, check boxes and labels. Controls whose
// vertical extents mostly overlap, inside the same frame, make a row; a row
// keeps to its frame (or the window) and leaves the controls beside it alone.
void FitTexts(wxWindow* window, const OtherTexts& others = {});

// Sets a label fitted to the control's present size: soft hyphens dropped,
// on two lines where one does not fit and two do.
void SetFittedLabel(wxWindow* control, const wxString& text);

// Widens a list's column where its heading, or one of the program's own texts
// its rows show (after the row's picture when picture is set), would be cut.
// Names and states are the user's data and stay cut, as in English.
void FitColumn(CRowsList* list, int column, const std::vector<wxString>& rowTexts = {},
               bool picture = false);
