// SPDX-License-Identifier: GPL-3.0-or-later
// The one way core code shows a warning to the user. The GUI installs the
// handler that opens the message box; without one the text goes to stderr.
#pragma once

#include <string>

using WarningHandler = void (*)(const std::string& text);

// Installs the handler and returns the previous one.
WarningHandler SetWarningHandler(WarningHandler handler);

// Shows text (a byte string; "\r\n" marks a line break) as a warning.
void ShowWarning(const std::string& text);
