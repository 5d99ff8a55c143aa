// SPDX-License-Identifier: GPL-3.0-or-later
#include "GuiTest.h"
#include "RunProgram.h"

#include "app/RenamerApp.h"
#include "app/RenamerDlg.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"

#include <wx/app.h>
#include <wx/artprov.h>
#include <wx/statbmp.h>
#include <wx/evtloop.h>
#include <wx/menu.h>
#include <wx/uiaction.h>

#include <gtk/gtk.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ftw.h>
#include <libintl.h>
#include <unistd.h>

int ExpectWarning::OnInvoked(CWarningBox* dlg) const
{
    EXPECT_EQ(dlg->GetMessage().utf8_string(), m_text.utf8_string());
    EXPECT_EQ(dlg->GetTitle().utf8_string(), ProgramBaseName());
    EXPECT_TRUE(dlg->GetMessageDialogStyle() & wxICON_EXCLAMATION);
    EXPECT_FALSE(dlg->GetMessageDialogStyle() & (wxYES_NO | wxCANCEL));
    const wxBitmap warning = wxArtProvider::GetBitmap(wxART_WARNING, wxART_MESSAGE_BOX);
    int icons = 0;
    for (wxWindow* child : dlg->GetChildren())
    {
        auto* icon = dynamic_cast<wxStaticBitmap*>(child);
        if (icon && icon->GetBitmap().IsOk() && icon->GetBitmap().GetSize() == warning.GetSize())
            ++icons;
    }
    EXPECT_EQ(icons, 1) << "the theme's warning icon";
    if (m_over)
    {
        EXPECT_EQ(dlg->GetParent(), wxGetTopLevelParent(m_over));
    }
    return wxID_OK;
}

void Flush()
{
    for (int i = 0; i < 20; ++i)
    {
        wxTheApp->ProcessPendingEvents();
        wxEventLoopBase* loop = wxEventLoopBase::GetActive();
        if (loop)
        {
            while (loop->Pending())
                loop->Dispatch();
        }
        else
        {
            wxYield();
        }
    }
}

void LeftClick(wxWindow* window, const wxPoint& at)
{
    wxUIActionSimulator mouse;
    mouse.MouseMove(window->ClientToScreen(at));
    Flush();
    mouse.MouseClick();
    Flush();
}

int RightClick(wxWindow* window, const wxPoint& at, wxMenu* menu,
               const std::function<void()>& opened)
{
    int count = 0;
    auto onOpen = [&](wxMenuEvent& event) {
        if (++count == 1 && opened)
            opened();
        // Closed as soon as it has shown, as by a click elsewhere.
        wxTheApp->CallAfter([menu] { gtk_menu_popdown(GTK_MENU(menu->m_menu)); });
        event.Skip();
    };
    menu->Bind(wxEVT_MENU_OPEN, onOpen);
    wxUIActionSimulator mouse;
    mouse.MouseMove(window->ClientToScreen(at));
    Flush();
    mouse.MouseClick(wxMOUSE_BTN_RIGHT);
    Flush();
    wxMilliSleep(50);
    Flush();
    menu->Unbind(wxEVT_MENU_OPEN, onOpen);
    return count;
}

void Press(wxWindow* window, int id)
{
    wxWindow* button = window->FindWindow(id);
    ASSERT_NE(button, nullptr);
    LeftClick(button, wxPoint(button->GetClientSize().x / 2, button->GetClientSize().y / 2));
}

ProgramResult RunChild(const std::string& tests,
                       std::vector<std::pair<std::string, std::string>> env)
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return ProgramResult();
    env.emplace_back("TAVOLY_GUI_CHILD", "1");
    TempDir out;
    return RunProgram(std::string(self, static_cast<size_t>(length)),
                      {"--gtest_filter=" + tests, "--gtest_also_run_disabled_tests"}, "", env,
                      out.Path() + "/out", out.Path() + "/err");
}

void MainWindowTestBase::SetUp()
{
    dlg = new CRenamerDlg(nullptr);
    dlg->Move(0, 0);
    dlg->Show();
    Flush();
}

void MainWindowTestBase::TearDown()
{
    delete dlg;
    dlg = nullptr;
    Flush();
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/tavoly-gui-XXXXXX";
    const char* made = mkdtemp(pattern);
    m_path = made ? made : "";
}

static int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

TempDir::~TempDir()
{
    if (!m_path.empty())
        nftw(m_path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const
{
    const std::string path = m_path + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string Mp3Bytes(const std::string& title, const std::string& artist)
{
    std::string bytes(600, '\0');
    // An MPEG-1 layer III frame header, so the file looks like audio.
    bytes[0] = '\xFF';
    bytes[1] = '\xFB';
    bytes[2] = '\x90';
    bytes[3] = '\x64';
    if (title.empty())
        return bytes;
    std::string tag(128, '\0');
    tag.replace(0, 3, "TAG");
    tag.replace(3, std::min<size_t>(title.size(), 30), title.substr(0, 30));
    tag.replace(33, std::min<size_t>(artist.size(), 30), artist.substr(0, 30));
    tag[127] = '\xFF';
    return bytes + tag;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The window journals its renames: into a folder of the tests' own.
    // A child run of one test (see JournalTest) is given its own.
    char state[] = "/tmp/tavoly-gui-state-XXXXXX";
    const bool child = std::getenv("TAVOLY_GUI_CHILD") != nullptr;
    if (!child && mkdtemp(state) != nullptr)
        setenv("XDG_STATE_HOME", state, 1);
    // The tests compare English texts, whatever the desktop's language; a
    // child run is given its language, and TAVOLY_GUI_LANGUAGE sets one for
    // looking at the windows (with LANG=C.UTF-8).
    const char* language = std::getenv("TAVOLY_GUI_LANGUAGE");
    if (!child)
        setenv("LANGUAGE", language ? language : "en", 1);
    StartToolkit(argc, argv);
    // This program is not beside the build's catalogues as the programs are.
    bindtextdomain(kTextDomain, TAVOLY_LOCALE_DIR);
    const int rc = RUN_ALL_TESTS();
    StopToolkit();
    if (!child)
        nftw(state, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    return rc;
}
