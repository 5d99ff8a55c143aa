// SPDX-License-Identifier: GPL-3.0-or-later
// The warning message box: exclamation icon, one OK button, captioned with the
// base name of the program file.
#pragma once

#include <wx/msgdlg.h>
#include <wx/generic/msgdlgg.h>

#include <string>

class wxWindow;

// Modal over the top-level window of its parent and raised above it. Built
// on the generic dialog: GTK 3's own message dialog draws no icon.
class CWarningBox : public wxGenericMessageDialog
{
public:
    CWarningBox(wxWindow* parent, const wxString& text, const wxString& caption);
    // Runs the box already built, so that a test hook sees its contents.
    int ShowModal() override;
};

// parent: the window the user acted in (any window inside it will do). Without
// one, the active window, else the main window.
void ShowWarningBox(const std::string& text, wxWindow* parent);

// While it lives, the core's warnings stand over this window.
class ScopedWarningParent
{
public:
    explicit ScopedWarningParent(wxWindow* window);
    ~ScopedWarningParent();
    ScopedWarningParent(const ScopedWarningParent&) = delete;
    ScopedWarningParent& operator=(const ScopedWarningParent&) = delete;

private:
    wxWindow* m_previous;
};

// Routes the core's warnings to ShowWarningBox.
void InstallGuiWarningHandler();
