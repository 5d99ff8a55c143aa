// The warning message box: exclamation icon, one OK button, captioned with the
// base name of the program file.
#pragma once

#include <string>

class wxWindow;

void ShowWarningBox(const std::string& text, wxWindow* parent = nullptr);

// Routes the core's warnings to ShowWarningBox.
void InstallGuiWarningHandler();
