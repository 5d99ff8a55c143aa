// SPDX-License-Identifier: GPL-3.0-or-later
// Not a test: saves pictures of the windows in a realistic state, for the
// README and for looking at after a change. Run with
//   tavoly_gui_tests --gtest_also_run_disabled_tests --gtest_filter='*Screenshots*'
// and TAVOLY_SHOTS=<folder> (default /tmp). With LANG=C.UTF-8 and
// TAVOLY_GUI_LANGUAGE=de the windows are German, and the pictures are named
// main-window-de.png and so on.
#include "GuiTest.h"

#include "app/Globals.h"
#include "app/HelpDlg.h"
#include "app/OptionsDlg.h"
#include "app/RenamerDlg.h"
#include "app/WarningBox.h"
#include "browser/DirList.h"
#include "browser/LocationBox.h"
#include "core/TagFile.h"
#include "core/Translate.h"
#include "editor/TagEditorDlg.h"
#include "queue/QueueList.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <sys/stat.h>

namespace
{
void Shoot(wxWindow* win, const std::string& name)
{
    Flush();
    wxMilliSleep(300);
    Flush();
    const char* folder = std::getenv("TAVOLY_SHOTS");
    const char* language = std::getenv("TAVOLY_GUI_LANGUAGE");
    const std::string file = name + (language ? std::string("-") + language : "") + ".png";
    const wxRect r = win->GetScreenRect();
    const std::string command = "import -window root -crop " + std::to_string(r.width) + "x" +
                                std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
                                std::to_string(r.y) + " " + (folder ? folder : "/tmp") + "/" + file;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}
} // namespace

class ScreenshotTest : public MainWindowTestBase
{
};

TEST_F(ScreenshotTest, DISABLED_SaveScreenshots)
{
    TempDir dir;
    const std::string music = dir.Path() + "/Music";
    mkdir(music.c_str(), 0755);
    mkdir((music + "/Live").c_str(), 0755);
    const char* songs[][3] = {{"track01.mp3", "Yesterday", "The Beatles"},
                              {"track02.mp3", "Hotel California", "Eagles"},
                              {"track03.mp3", "Bohemian Rhapsody", "Queen"},
                              {"track04.mp3", "Wish You Were Here", "Pink Floyd"},
                              {"track05.mp3", "", ""},
                              {"Live/01 - intro.mp3", "Imagine", "John Lennon"}};
    for (const auto& song : songs)
    {
        const std::string path = dir.Write(std::string("Music/") + song[0], Mp3Bytes(""));
        if (song[1][0])
        {
            ASSERT_EQ(TheTagFile().WriteTag(path, "MP3", song[1], song[2], "Greatest", "1975", "", "\x0C", 17), 1);
        }
    }
    g_optionsDlg.m_bWithArtist = 1;
    g_queue.DropFiles({music});
    for (int row = 0; row < 5; ++row)
        g_queue.SelectRow(row);
    g_queue.AutoRenameSelected();
    g_queue.DeselectAll();
    g_queue.SelectRow(1);
    g_queue.UpdateCounts();
    g_dirList.m_location = music;
    g_dirList.ShowLocation();
    g_dirList.SyncLocationBox();
    Shoot(dlg, "main-window");

    dlg->OpenTagEditor();
    Shoot(g_tagEditor.GetWindow(), "tag-editor");
    g_tagEditor.Hide();

    g_locationBox.OpenDropDown();
    while (g_locationBox.m_dropRect.height < g_locationBox.m_dropHeight)
        g_locationBox.OnDropTimer();
    Shoot(g_locationBox.GetDropDown(), "drop-down");
    g_locationBox.CloseDropDown();
    // A label too wide for it.
    g_locationBox.ShowPath(music + "/Live/Recorded at the Hammersmith Odeon");
    g_locationBox.OpenDropDown();
    while (g_locationBox.m_dropRect.height < g_locationBox.m_dropHeight)
        g_locationBox.OnDropTimer();
    {
        // The desktop may show scroll bars only under the pointer.
        const wxRect drop = g_locationBox.GetDropDown()->GetScreenRect();
        wxUIActionSimulator().MouseMove(drop.GetBottomLeft() + wxPoint(drop.width / 2, -4));
    }
    Shoot(g_locationBox.GetDropDown(), "drop-down-wide");
    g_locationBox.CloseDropDown();

    g_helpDlg.Show();
    Shoot(g_helpDlg.GetWindow(), "help");
    g_helpDlg.ShowHowTo();
    Shoot(g_howToDlg.GetWindow(), "how-to");
    g_howToDlg.Hide();

    // Modal windows: shot from inside their own loops.
    auto shootModal = [](const std::string& name) {
        wxTheApp->CallAfter([name] {
            for (wxWindow* win : wxTopLevelWindows)
            {
                auto* modal = dynamic_cast<wxDialog*>(win);
                if (modal && modal->IsModal())
                {
                    Shoot(modal, name);
                    modal->EndModal(wxID_CANCEL);
                }
            }
        });
    };
    shootModal("options");
    g_optionsDlg.DoModal(dlg);
    shootModal("warning");
    ShowWarningBox(Tr("Invalid Title! \r\nThe first letter can not be blank."), dlg);
}
