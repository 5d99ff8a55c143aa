// Support for the directory browser's tests: the user's desktop and
// documents folders pointed at temporary folders, and a main window.
#pragma once

#include "GuiTest.h"

#include "app/RenamerDlg.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>

// While it lives, the desktop and documents folders are <dir>/Desktop and
// <dir>/Documents (an XDG user-dirs file under <dir>/config).
class UserFolders
{
public:
    explicit UserFolders(const std::string& dir)
        : desktop(dir + "/Desktop"), documents(dir + "/Documents")
    {
        const std::string config = dir + "/config";
        mkdir(desktop.c_str(), 0755);
        mkdir(documents.c_str(), 0755);
        mkdir(config.c_str(), 0755);
        std::ofstream(config + "/user-dirs.dirs")
            << "XDG_DESKTOP_DIR=\"" << desktop << "\"\n"
            << "XDG_DOCUMENTS_DIR=\"" << documents << "\"\n";
        const char* old = std::getenv("XDG_CONFIG_HOME");
        m_hadOld = old != nullptr;
        if (old)
            m_old = old;
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    ~UserFolders()
    {
        if (m_hadOld)
            setenv("XDG_CONFIG_HOME", m_old.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    UserFolders(const UserFolders&) = delete;
    UserFolders& operator=(const UserFolders&) = delete;

    const std::string desktop;
    const std::string documents;

private:
    bool m_hadOld = false;
    std::string m_old;
};

// A main window over user folders of its own, at the screen's top left.
class BrowserTest : public MainWindowTestBase
{
protected:
    void MakeDir(const std::string& path) const { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

    TempDir dir;
    UserFolders folders{dir.Path()};
};
