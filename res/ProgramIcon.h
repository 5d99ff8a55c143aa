// SPDX-License-Identifier: GPL-3.0-or-later
// The program icon, drawn at any size into an image with an alpha channel.
// The windows and the icon files installed for the desktop both come from
// here, so there is one picture. Needs no display.
#pragma once

#include <wx/image.h>

// A size x size picture with a transparent background.
wxImage DrawProgramIcon(int size);
