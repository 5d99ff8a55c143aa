// SPDX-License-Identifier: GPL-3.0-or-later
// Root's window on a tree that another user can write to: whatever that user
// swaps in between the queueing, the Auto-Rename and the Undo, nothing outside
// the queued folder moves.
#include "GuiTest.h"
#include "Manifest.h"

#include "app/Globals.h"
#include "app/Ids.h"
#include "app/OptionsDlg.h"
#include "app/RenamerDlg.h"
#include "queue/QueueList.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

class SecondUserTest : public MainWindowTestBase
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "needs root and setpriv to act as another user";
        MainWindowTestBase::SetUp();
        g_optionsDlg.m_bWithArtist = 0;
        chmod(dir.Path().c_str(), 0755);
        // Only root may enter; its files bear the names the queued ones had
        // and will have.
        mkdir(Secret().c_str(), 0700);
        for (const char* name : {"a.mp3", "Own a.mp3"})
            std::ofstream(Secret() + "/" + name, std::ios::binary) << Mp3Bytes(std::string("Root's ") + name);
        const std::string shared = dir.Path() + "/shared";
        mkdir(shared.c_str(), 01777);
        chmod(shared.c_str(), 01777);
        mkdir(Sub().c_str(), 0755);
        std::ofstream(Sub() + "/a.mp3", std::ios::binary) << Mp3Bytes("Own a");
        ASSERT_EQ(chown((Sub() + "/a.mp3").c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown(Sub().c_str(), 65534, 65534), 0);
        g_queue.AddEntry("", Sub(), ADD_FOLDER);
        ASSERT_EQ(g_queue.GetCount(), 1);
        g_queue.SelectAll();
    }

    std::string Secret() const { return dir.Path() + "/secret"; }
    std::string Sub() const { return dir.Path() + "/shared/sub"; }

    // The other user puts a link to the secret folder where the queued one was.
    void SwapForALink()
    {
        const std::string command = "cd '" + dir.Path() + "/shared' && setpriv --reuid=65534 --regid=65534 "
                                    "--clear-groups sh -c 'mv sub old && ln -s ../secret sub'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    TempDir dir;
};

} // namespace

TEST_F(SecondUserTest, AutoRenameDoesNotFollowAQueuedFolderSwappedForALink)
{
    const Manifest secret = TakeManifest(Secret());
    SwapForALink();
    Press(dlg, IDC_AUTORENAME);
    EXPECT_EQ(g_queue.Row(0).state, "Failed, Unable to rename the file automatically! ");
    EXPECT_EQ(TakeManifest(Secret()), secret);
    EXPECT_EQ(access((dir.Path() + "/shared/old/a.mp3").c_str(), F_OK), 0);
}

TEST_F(SecondUserTest, UndoDoesNotFollowARenamedFoldersSwapForALink)
{
    ASSERT_EQ(unlink((Secret() + "/a.mp3").c_str()), 0);   // the old name is free there
    Press(dlg, IDC_AUTORENAME);
    ASSERT_EQ(g_queue.Row(0).state, "Successful");
    ASSERT_EQ(g_queue.Row(0).path, Sub() + "/Own a.mp3");
    const Manifest secret = TakeManifest(Secret());
    SwapForALink();
    Press(dlg, IDC_UNDO);
    EXPECT_EQ(g_queue.Row(0).state, "Successful");
    EXPECT_EQ(TakeManifest(Secret()), secret);
    EXPECT_EQ(access((dir.Path() + "/shared/old/Own a.mp3").c_str(), F_OK), 0);
}
