// SPDX-License-Identifier: GPL-3.0-or-later
// The application object: runs the main window modally, then the program ends.
#pragma once

#include <wx/app.h>

class CRenamerApp : public wxApp
{
public:
    CRenamerApp();
    ~CRenamerApp() override;

    // Runs the main window until it closes; returns false, so no further
    // event loop runs.
    bool OnInit() override;

    // The storage is static: wx must not free it.
    static void operator delete(void*) {}
};

// Start and stop the toolkit around the static application object; the GUI
// tests use these too. StartToolkit ends the process when there is no display.
bool StartToolkit(int& argc, char** argv);
void StopToolkit();

// The program's entry: start the toolkit, run the main window, clean up.
// Returns the process exit code.
int RunProgram(int argc, char** argv);
