// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WarningBox.h"

#include "app/Display.h"
#include "app/Globals.h"
#include "core/Warning.h"
#include "platform/FileSystem.h"

#include <wx/toplevel.h>
#include <wx/window.h>

namespace
{
wxWindow* g_warningParent = nullptr;

wxWindow* ActiveTopLevel()
{
    for (wxWindow* win : wxTopLevelWindows)
    {
        auto* top = dynamic_cast<wxTopLevelWindow*>(win);
        if (top && top->IsShown() && top->IsActive())
            return top;
    }
    return nullptr;
}

void GuiWarning(const std::string& text)
{
    ShowWarningBox(text, g_warningParent);
}
} // namespace

CWarningBox::CWarningBox(wxWindow* parent, const wxString& text, const wxString& caption)
    : wxGenericMessageDialog(parent, text, caption, wxOK | wxICON_EXCLAMATION)
{
    DoCreateMsgdialog();
    // A window manager may place a new window that it does not give the
    // focus below the focused one, which would leave the box hidden behind
    // the window that waits for it.
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        if (event.IsShown())
            CallAfter([this] { Raise(); });
        event.Skip();
    });
}

int CWarningBox::ShowModal()
{
    return wxDialog::ShowModal();
}

void ShowWarningBox(const std::string& text, wxWindow* parent)
{
    wxWindow* over = parent ? wxGetTopLevelParent(parent) : nullptr;
    if (!over || !over->IsShown())
        over = ActiveTopLevel();
    if (!over)
        over = g_hMainWnd;
    CWarningBox box(over, MessageText(text), ToDisplay(ProgramBaseName()));
    box.ShowModal();
}

ScopedWarningParent::ScopedWarningParent(wxWindow* window) : m_previous(g_warningParent)
{
    g_warningParent = window;
}

ScopedWarningParent::~ScopedWarningParent()
{
    g_warningParent = m_previous;
}

void InstallGuiWarningHandler()
{
    SetWarningHandler(&GuiWarning);
}
