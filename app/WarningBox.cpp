#include "app/WarningBox.h"

#include "app/Display.h"
#include "app/Globals.h"
#include "core/Warning.h"
#include "platform/FileSystem.h"

#include <wx/msgdlg.h>
#include <wx/window.h>

void ShowWarningBox(const std::string& text, wxWindow* parent)
{
    if (!parent)
        parent = wxGetActiveWindow();
    if (!parent)
        parent = g_hMainWnd;
    wxMessageBox(MessageText(text), ToDisplay(ProgramBaseName()),
                 wxOK | wxICON_EXCLAMATION, parent);
}

static void GuiWarning(const std::string& text)
{
    ShowWarningBox(text);
}

void InstallGuiWarningHandler()
{
    SetWarningHandler(&GuiWarning);
}
