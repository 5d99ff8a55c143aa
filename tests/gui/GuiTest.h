// SPDX-License-Identifier: GPL-3.0-or-later
// Support for tests that drive the real windows.
#pragma once

// Failed dialog expectations become test failures, not wx asserts.
#include <gtest/gtest.h>
#include "app/WarningBox.h"

class GtestModalHook;
#define wxTEST_DIALOG_HOOK_CLASS GtestModalHook
#include <wx/testing.h>

class GtestModalHook : public wxTestingModalHook
{
public:
    using wxTestingModalHook::wxTestingModalHook;

protected:
    void ReportFailure(const wxString& msg) override { ADD_FAILURE() << msg.utf8_string(); }
};

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Expects one warning box with exactly this text (line breaks as "\n"), the
// theme's warning icon and one OK button, captioned with the program file's
// name; when over is given, standing over that window.
class ExpectWarning : public wxExpectModalBase<CWarningBox, ExpectWarning>
{
public:
    explicit ExpectWarning(const wxString& text, wxWindow* over = nullptr) : m_text(text), m_over(over) {}

protected:
    int OnInvoked(CWarningBox* dlg) const override;
    wxString GetDefaultDescription() const override { return "warning \"" + m_text + "\""; }

private:
    wxString m_text;
    wxWindow* m_over;
};

// Runs the toolkit's pending events until none is left.
void Flush();

class wxMenu;
class wxWindow;
// Real clicks at a point of a window, in its client coordinates. A right click
// returns how often it opened menu, and runs opened() while it is first open.
void LeftClick(wxWindow* window, const wxPoint& at);
int RightClick(wxWindow* window, const wxPoint& at, wxMenu* menu,
               const std::function<void()>& opened = {});

// A real click in the middle of the window's control id.
void Press(wxWindow* window, int id);

struct ProgramResult;
// Tests of this program (a gtest filter), run in a process of their own (a
// window session of its own) with env added; disabled ones run too.
ProgramResult RunChild(const std::string& tests,
                       std::vector<std::pair<std::string, std::string>> env);

class CRenamerDlg;

// Each test gets a main window of its own, shown at the screen's top left;
// the program-wide objects start afresh with it.
class MainWindowTestBase : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    CRenamerDlg* dlg = nullptr;
};

// A temporary folder, removed with everything in it when the object goes.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    // Writes a file of these bytes under the folder and returns its full path.
    std::string Write(const std::string& name, const std::string& bytes) const;

private:
    std::string m_path;
};

// A small MP3-like file: some frame-header bytes and, when title is given, an
// ID3v1 tag at the end.
std::string Mp3Bytes(const std::string& title, const std::string& artist = "");
