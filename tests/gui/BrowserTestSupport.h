// SPDX-License-Identifier: GPL-3.0-or-later
// Support for the directory browser's tests.
#pragma once

#include "GuiTest.h"

#include "app/Display.h"
#include "app/Globals.h"
#include "app/RenamerDlg.h"
#include "browser/DirList.h"
#include "browser/LocationBox.h"
#include "browser/Locations.h"

#include <wx/textctrl.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>

// While it lives, the desktop and documents folders are <dir>/Desktop and
// <dir>/Documents, named by an XDG user-dirs file under <dir>/config.
class UserFolders
{
public:
    explicit UserFolders(const std::string& dir) : desktop(dir + "/Desktop"), documents(dir + "/Documents")
    {
        const std::string config = dir + "/config";
        for (const std::string& folder : {desktop, documents, config})
            mkdir(folder.c_str(), 0755);
        std::ofstream(config + "/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"" << desktop << "\"\n"
                                                  << "XDG_DOCUMENTS_DIR=\"" << documents << "\"\n";
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            m_old = old;
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    ~UserFolders() { m_old ? setenv("XDG_CONFIG_HOME", m_old->c_str(), 1) : unsetenv("XDG_CONFIG_HOME"); }
    UserFolders(const UserFolders&) = delete;

    const std::string desktop;
    const std::string documents;

private:
    std::optional<std::string> m_old;
};

// A main window over user folders of its own.
class BrowserTest : public MainWindowTestBase
{
protected:
    void MakeDir(const std::string& path) const { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }
    std::string PathLine() const { return FromUser(g_hDirStatus->GetValue()); }
    // Where a pick in the location box or a double click takes the list.
    static void Show(const std::string& location)
    {
        g_dirList.m_location = location;
        g_dirList.ShowLocation();
        g_dirList.SyncLocationBox();
    }
    // Sends the event to the window as if the toolkit had.
    static void Send(wxWindow* window, wxEvent& event)
    {
        event.SetEventObject(window);
        window->GetEventHandler()->ProcessEvent(event);
    }
    static void Key(wxWindow* window, int code, bool control = false, bool alt = false,
                    bool shift = false)
    {
        wxKeyEvent key(wxEVT_KEY_DOWN);
        key.m_keyCode = code;
        key.m_controlDown = control;
        key.m_altDown = alt;
        key.m_shiftDown = shift;
        Send(window, key);
    }

    TempDir dir;
    UserFolders folders{dir.Path()};
};
