// SPDX-License-Identifier: GPL-3.0-or-later
// The display edge: byte strings become wxString only to be shown, and text a
// person types becomes UTF-8 bytes.
#pragma once

#include <string>
#include <wx/string.h>

// Any byte string as display text; a name that is not UTF-8 shows decoded in
// the ANSI code page (DisplayableUtf8).
wxString ToDisplay(const std::string& bytes);

// Text typed by a person, as UTF-8 bytes.
std::string FromUser(const wxString& text);

// A message text with "\r\n" line breaks, as one line break each.
wxString MessageText(const std::string& bytes);

// One of our own texts in the user's language (Tr), to show.
wxString TrUi(const char* english);
