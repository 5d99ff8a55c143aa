// SPDX-License-Identifier: GPL-3.0-or-later
// The program's pictures, drawn in code so no binary artwork is shipped: the
// 15-image strip (16x16 each, side by side) and the program icon.
#pragma once

#include <wx/bitmap.h>
#include <wx/cursor.h>
#include <wx/iconbndl.h>

// 240x16, 24-bit, no black pixel (black is the mask colour of the lists).
wxBitmap LoadIconStrip();

// The program icon at 16, 32 and 48 pixels (see ProgramIcon.h).
wxIconBundle LoadProgramIcon();

// The cursor shown while rows are dragged from the directory list.
wxCursor LoadDragCursor();
