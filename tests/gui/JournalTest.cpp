// SPDX-License-Identifier: GPL-3.0-or-later
// The window's renames in the journal: listed and undone by mp3tavoly-rename,
// after a crash of the window too, and never moved twice.
#include "GuiTest.h"
#include "Manifest.h"
#include "RunProgram.h"

#include "app/Globals.h"
#include "app/Ids.h"
#include "app/OptionsDlg.h"
#include "app/RenamerDlg.h"
#include "queue/QueueList.h"

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace
{
using Env = std::vector<std::pair<std::string, std::string>>;

// program run with env added, from here; its output kept in a folder of its own.
ProgramResult Run(const std::string& program, const std::vector<std::string>& args, const Env& env)
{
    TempDir out;
    return RunProgram(program, args, "", env, out.Path() + "/out", out.Path() + "/err");
}

ProgramResult Cli(const std::vector<std::string>& args)
{
    return Run(RENAME_EXE, args, {});
}

// count files in folders of 100 under root, each with its own title.
void MakeTree(const std::string& root, int count)
{
    mkdir(root.c_str(), 0755);
    for (int i = 0; i < count; ++i)
    {
        const std::string folder = root + "/album" + std::to_string(i / 100);
        mkdir(folder.c_str(), 0755);
        std::ofstream(folder + "/track" + std::to_string(i) + ".mp3", std::ios::binary)
            << Mp3Bytes("Song " + std::to_string(i));
    }
}

// The last line of --runs --tsv, split at tabs.
std::vector<std::string> LastRun()
{
    const std::string out = Cli({"--runs", "--tsv"}).out;
    const size_t start = out.rfind('\n', out.size() - 2);
    const std::string line = out.substr(start == std::string::npos ? 0 : start + 1);
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
        fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from, line.size() - from - 1));
    return fields;
}

class JournalTest : public MainWindowTestBase
{
protected:
    void SetUp() override
    {
        MainWindowTestBase::SetUp();
        g_optionsDlg.m_bWithArtist = 0;
    }
    TempDir dir;
};

// The child runs below are started by the tests after them.
std::string ChildTree()
{
    const char* tree = std::getenv("TAVOLY_TREE");
    return tree != nullptr ? tree : "";
}
} // namespace

TEST_F(JournalTest, DISABLED_ChildAutoRenamesTheTree)
{
    ASSERT_FALSE(ChildTree().empty());
    g_queue.AddEntry("", ChildTree(), ADD_FOLDER);
    g_queue.SelectAll();
    Press(dlg, IDC_AUTORENAME);
}

TEST_F(JournalTest, AWindowKilledAfterAnAutoRenameIsUndoneFromAShell)
{
    const std::string tree = dir.Path() + "/tree";
    MakeTree(tree, 300);
    const Manifest before = TakeManifest(tree, true);
    // Killed at its 200th move, while the batch is still going, as by a crash.
    const int status = RunChild("JournalTest.DISABLED_ChildAutoRenamesTheTree",
                                {{"TAVOLY_TREE", tree},
                                 {"LD_PRELOAD", KILL_SHIM},
                                 {"TAVOLY_COUNT_MOVES_ONLY", "1"},
                                 {"TAVOLY_KILL_AT", "200"}})
                           .status;
    // A sanitizer build may keep the shim out; the run then ends by itself.
    EXPECT_TRUE(status == 1000 + SIGKILL || status == 0) << status;
    EXPECT_NE(TakeManifest(tree, true), before);

    const std::vector<std::string> run = LastRun();
    ASSERT_EQ(run.size(), 7u);
    EXPECT_EQ(run[6], "window");
    // Records go to disk a group at a time, before the group's first move.
    const int recorded = std::atoi(run[2].c_str());
    EXPECT_TRUE(status == 0 ? recorded == 300 : recorded >= 200 && recorded <= 300) << run[2];
    const auto undo = Cli({"--undo", run[0]});
    EXPECT_EQ(undo.status, 0) << undo.out;
    EXPECT_EQ(TakeManifest(tree, true), before);
}

TEST_F(JournalTest, AWindowUndoAndAShellUndoNeverMoveAFileTwice)
{
    MakeTree(dir.Path(), 4);
    const Manifest before = TakeManifest(dir.Path(), true);
    g_queue.AddEntry("", dir.Path(), ADD_FOLDER);
    g_queue.SelectAll();

    // Undone from a shell while the window is open: its Undo finds the
    // files back and its rows say so.
    Press(dlg, IDC_AUTORENAME);
    ASSERT_EQ(g_queue.Row(0).state, "Successful");
    const std::string first = LastRun()[0];
    EXPECT_EQ(Cli({"--undo", first}).status, 0);
    EXPECT_EQ(TakeManifest(dir.Path(), true), before);
    Press(dlg, IDC_UNDO);
    for (size_t row = 0; row < 4; ++row)
    {
        EXPECT_EQ(g_queue.Row(row).state, "Waiting");
        EXPECT_EQ(g_queue.Row(row).original, "-");
        EXPECT_EQ(access(g_queue.Row(row).path.c_str(), F_OK), 0) << g_queue.Row(row).path;
    }

    // Undone by the window: the journal knows, and a shell's undo moves nothing.
    Press(dlg, IDC_AUTORENAME);
    const std::string second = LastRun()[0];
    EXPECT_NE(second, first);
    Press(dlg, IDC_UNDO);
    EXPECT_EQ(TakeManifest(dir.Path(), true), before);
    EXPECT_EQ(LastRun()[4], "undone");
    EXPECT_EQ(Cli({"--undo", second}).status, 2);
    EXPECT_EQ(TakeManifest(dir.Path(), true), before);
}

// Tags are read a group ahead of the moves; a row whose name an earlier row
// takes still sees that row's file, and a link to its old name finds nothing,
// as when each is read just before it moves.
TEST_F(JournalTest, ARowNamedAfterAnEarlierRowsNewNameSeesThatFile)
{
    const std::string a = dir.Path() + "/a.mp3", gone = dir.Path() + "/Later.mp3";
    std::ofstream(a, std::ios::binary) << Mp3Bytes("Later");
    std::ofstream(gone, std::ios::binary) << Mp3Bytes("Gone");
    // And a link to the first row's old name, which its move leaves dangling.
    const std::string link = dir.Path() + "/link.mp3";
    ASSERT_EQ(symlink("a.mp3", link.c_str()), 0);
    g_queue.AddEntry("a.mp3", a, ADD_MP3);
    g_queue.AddEntry("Later.mp3", gone, ADD_MP3);
    g_queue.AddEntry("link.mp3", link, ADD_MP3);
    ASSERT_EQ(unlink(gone.c_str()), 0);
    g_queue.SelectAll();
    Press(dlg, IDC_AUTORENAME);
    EXPECT_EQ(g_queue.Row(0).state, "Successful");
    EXPECT_EQ(g_queue.Row(1).state, "Successful");
    EXPECT_EQ(g_queue.Row(1).path, gone);
    EXPECT_EQ(g_queue.Row(2).state, "Failed, File unwritable! ");
}

TEST_F(JournalTest, DISABLED_ChildWarnsOnceThatItsRenamesAreNotJournaled)
{
    ASSERT_FALSE(ChildTree().empty());
    g_queue.AddEntry("", ChildTree(), ADD_FOLDER);
    g_queue.SelectRow(0);
    wxTEST_DIALOG(Press(dlg, IDC_AUTORENAME),
                  ExpectWarning("Renames are not being journaled, so they cannot be undone from a shell "
                                "later (mp3tavoly-rename --undo):\ncannot write the journal in "
                                "/dev/null/state/mp3tavoly: Not a directory"));
    EXPECT_EQ(g_queue.Row(0).state, "Successful");
    g_queue.DeselectAll();
    g_queue.SelectRow(1);
    GtestModalHook noMore(__FILE__, __LINE__, "no second warning");
    Press(dlg, IDC_AUTORENAME);
    EXPECT_EQ(g_queue.Row(1).state, "Successful");
    g_queue.EndLabelEdit(2, "By hand.mp3", false);
    noMore.CheckUnmetExpectations();
    EXPECT_EQ(g_queue.Row(2).state, "Renamed manually");
}

TEST(JournalChildTest, AnUnwritableJournalStillRenamesAndWarnsOnce)
{
    TempDir dir;
    MakeTree(dir.Path(), 3);
    EXPECT_EQ(RunChild("JournalTest.DISABLED_ChildWarnsOnceThatItsRenamesAreNotJournaled",
                       {{"TAVOLY_TREE", dir.Path()}, {"XDG_STATE_HOME", "/dev/null/state"}})
                  .status,
              0);
}

TEST_F(JournalTest, AnUndoAfterAShellUndoMovesNoOtherFile)
{
    std::ofstream(dir.Path() + "/a.mp3", std::ios::binary) << Mp3Bytes("Song");
    g_queue.AddEntry("a.mp3", dir.Path() + "/a.mp3", ADD_MP3);
    g_queue.SelectAll();
    Press(dlg, IDC_AUTORENAME);
    ASSERT_EQ(g_queue.Row(0).path, dir.Path() + "/Song.mp3");
    ASSERT_EQ(Cli({"--undo", LastRun()[0]}).status, 0);
    // The user moves the file away, and another file takes the run's new name.
    ASSERT_EQ(rename((dir.Path() + "/a.mp3").c_str(), (dir.Path() + "/kept.mp3").c_str()), 0);
    std::ofstream(dir.Path() + "/Song.mp3", std::ios::binary) << Mp3Bytes("Other");
    const Manifest before = TakeManifest(dir.Path(), true);
    Press(dlg, IDC_UNDO);
    EXPECT_EQ(TakeManifest(dir.Path(), true), before);
    EXPECT_EQ(g_queue.Row(0).state, "Successful");
}

// Another process has just created the old name and not yet written it: the
// undo leaves that empty file alone, however much it looks like a placeholder.
TEST_F(JournalTest, AnUndoNeverRemovesAnEmptyFileJustMadeUnderTheOldName)
{
    std::ofstream(dir.Path() + "/a.mp3", std::ios::binary) << Mp3Bytes("Song");
    g_queue.AddEntry("a.mp3", dir.Path() + "/a.mp3", ADD_MP3);
    g_queue.SelectAll();
    Press(dlg, IDC_AUTORENAME);
    ASSERT_EQ(g_queue.Row(0).path, dir.Path() + "/Song.mp3");
    std::ofstream(dir.Path() + "/a.mp3", std::ios::binary).close();
    const Manifest before = TakeManifest(dir.Path(), true);
    Press(dlg, IDC_UNDO);
    EXPECT_EQ(TakeManifest(dir.Path(), true), before);
    EXPECT_NE(g_queue.Row(0).state, "Waiting");
}

#ifdef TAVOLY_TESTFS
#include "fuse/TestFs.h"

// Where the file system has neither rename flags nor hard links and folds
// letter case (a FAT stick through FUSE), the window renames and undoes as
// on any other: a case clash fails, a change of case alone is made.
TEST_F(JournalTest, TheWindowRenamesAndUndoesWhereCaseFoldsAndNothingButRenameIsTaken)
{
    auto fs = tavoly_test::TestFs::Ours("norenameflags,nolinks,caseless");
    if (!fs.Mounted())
        GTEST_SKIP() << fs.Reason();
    const std::string folder = fs.Path() + "/music";
    mkdir(folder.c_str(), 0755);
    std::ofstream(folder + "/a.mp3", std::ios::binary) << Mp3Bytes("Song");
    std::ofstream(folder + "/b.mp3", std::ios::binary) << Mp3Bytes("song");
    std::ofstream(folder + "/lower.mp3", std::ios::binary) << Mp3Bytes("LOWER");
    const Manifest before = TakeManifest(folder);
    g_queue.AddEntry("", folder, ADD_FOLDER);
    g_queue.SelectAll();
    Press(dlg, IDC_AUTORENAME);
    int renamed = 0, clashed = 0;
    for (size_t row = 0; row < 3; ++row)
    {
        renamed += g_queue.Row(row).state == "Successful" ? 1 : 0;
        clashed += g_queue.Row(row).state == "Failed, Unable to rename the file automatically! " ? 1 : 0;
    }
    EXPECT_EQ(renamed, 2);
    EXPECT_EQ(clashed, 1);
    EXPECT_EQ(access((folder + "/LOWER.mp3").c_str(), F_OK), 0);
    Press(dlg, IDC_UNDO);
    EXPECT_EQ(TakeManifest(folder), before);
}

// On a share that answers in a millisecond, side by side, the window's Undo
// makes its moves across folders at once: every file gets its name back,
// and a name taken meanwhile is never replaced.
TEST_F(JournalTest, TheWindowUndoesAcrossFoldersOnASlowShare)
{
    auto fs = tavoly_test::TestFs::Ours("threads,latency_us=1000");
    if (!fs.Mounted())
        GTEST_SKIP() << fs.Reason();
    g_queue.BeginAdding();
    for (const char* name : {"one", "two", "three", "four"}) {
        const std::string folder = fs.Path() + "/" + name;
        mkdir(folder.c_str(), 0755);
        for (int i = 0; i < 5; ++i)
            std::ofstream(folder + "/" + std::to_string(i) + ".mp3", std::ios::binary)
                << Mp3Bytes(std::string(name) + " " + std::to_string(i));
        g_queue.AddEntry("", folder, ADD_FOLDER);
    }
    g_queue.EndAdding();
    std::map<std::string, Manifest> before;
    for (const char* name : {"one", "two", "three"})
        before[name] = TakeManifest(fs.Path() + "/" + name);
    g_queue.SelectAll();
    Press(dlg, IDC_AUTORENAME);
    // Another file takes one old name after the rename.
    std::ofstream(fs.Path() + "/four/4.mp3", std::ios::binary) << "taken";
    Press(dlg, IDC_UNDO);
    int waiting = 0;
    for (size_t row = 0; row < 20; ++row)
        waiting += g_queue.Row(row).state == "Waiting" ? 1 : 0;
    EXPECT_EQ(waiting, 19);
    for (const char* name : {"one", "two", "three"})
        EXPECT_EQ(TakeManifest(fs.Path() + "/" + name), before[name]) << name;
    EXPECT_EQ(tavoly_test::testfs_detail::ReadAll(fs.Path() + "/four/4.mp3"), "taken");
}
#endif
