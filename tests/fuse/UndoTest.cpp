// SPDX-License-Identifier: GPL-3.0-or-later
// mp3tavoly-rename and its undo where inode numbers do not last: a renamed
// file comes back by its content, and only the very file the run moved.
#include "Manifest.h"
#include "RunProgram.h"
#include "TestFs.h"
#include "core/RenameSession.h"
#include "core/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>

using tavoly_test::TestFs;

namespace {

TestFs Mount(const std::string& kind)
{
    // Ours gives a renamed file a new inode number at once; sshfs numbers by path.
    if (kind == "sshfs")
        return TestFs::Sshfs();
    return TestFs::Ours("unstableinodes");
}

class UnstableInodes : public ::testing::TestWithParam<std::string>
{
protected:
    TempDir state;   // the journal and the output, on a local disk

    ProgramResult Run(const std::vector<std::string>& args) const
    {
        return RunProgram(RENAME_EXE, args, "", {{"XDG_STATE_HOME", state.Path()}, {"LANGUAGE", "en"}},
                          state / "out", state / "err");
    }
};

TEST_P(UnstableInodes, UndoRestoresTheTreeAndRefusesAFileSwappedIn)
{
    TestFs fs = Mount(GetParam());
    if (!fs.Mounted())
        GTEST_SKIP() << fs.Reason();
    const std::string m = fs.Path() + "/m";
    mkdir(m.c_str(), 0755);
    mkdir((m + "/sub").c_str(), 0755);
    WriteBytes(m + "/a.mp3", Audio(301) + Record("One"));
    WriteBytes(m + "/b.mp3", Audio(302) + Record("Two"));
    WriteBytes(m + "/sub/c.mp3", Audio(303) + Record("Three"));
    const Manifest before = TakeManifest(m, true);

    ProgramResult run = Run({"-t", "-q", m});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(Exists(m + "/Two.mp3"));
    ASSERT_TRUE(Exists(m + "/sub/Three.mp3"));
    run = Run({"--undo", "-q"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(TakeManifest(m, true), before);

    // Another file of the same size and modification time, but other bytes,
    // takes a renamed file's name: it stays where it is.
    ASSERT_EQ(Run({"-t", "-q", m}).status, 0);
    const std::string other = Audio(302) + Record("Owt");
    WriteBytes(m + "/x", other);
    struct stat st{};
    ASSERT_EQ(stat((m + "/Two.mp3").c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, (m + "/x").c_str(), times, 0), 0);
    ASSERT_EQ(unlink((m + "/Two.mp3").c_str()), 0);
    ASSERT_EQ(rename((m + "/x").c_str(), (m + "/Two.mp3").c_str()), 0);
    run = Run({"--undo", "--tsv"});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.out.find("Failed, Another file has the new name! \t" + m + "/Two.mp3"), std::string::npos)
        << run.out;
    EXPECT_EQ(ReadBytes(m + "/Two.mp3"), other);
    EXPECT_FALSE(Exists(m + "/b.mp3"));
    EXPECT_EQ(ReadBytes(m + "/a.mp3"), Audio(301) + Record("One"));
    EXPECT_EQ(ReadBytes(m + "/sub/c.mp3"), Audio(303) + Record("Three"));

    // A link under the new name is not the file, even one that leads to it.
    ASSERT_EQ(Run({"-t", "-q", m + "/sub"}).status, 0);
    ASSERT_EQ(rename((m + "/sub/Three.mp3").c_str(), (m + "/sub/kept").c_str()), 0);
    ASSERT_EQ(symlink("kept", (m + "/sub/Three.mp3").c_str()), 0);
    run = Run({"--undo", "--tsv"});
    EXPECT_NE(run.out.find("Failed, Another file has the new name! \t" + m + "/sub/Three.mp3"), std::string::npos)
        << run.out;
    struct stat link{};
    EXPECT_EQ(lstat((m + "/sub/Three.mp3").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_FALSE(Exists(m + "/sub/c.mp3"));
}

INSTANTIATE_TEST_SUITE_P(Fs, UnstableInodes, ::testing::Values("ours", "sshfs"));

// The window's Undo keeps the identity its Auto-Rename read.
TEST(UnstableInodesWindow, UndoMovesTheFileBack)
{
    TestFs fs = TestFs::Ours("unstableinodes");
    if (!fs.Mounted())
        GTEST_SKIP() << fs.Reason();
    TempDir state;
    const std::string bytes = Audio(301) + Record("One");
    WriteBytes(fs.Path() + "/a.mp3", bytes);
    CRenameSession session(state.Path());
    std::vector<CRenameSession::UndoItem> items;
    session.AutoRename({QueuedFile{fs.Path() + "/a.mp3", CFolderTable::kNone}}, false,
                       [&](std::size_t, const RenameOutcome& outcome) {
                           ASSERT_EQ(outcome.newName, "One.mp3");
                           items.push_back({outcome.folder, fs.Path() + "/One.mp3", "a.mp3", outcome.file, outcome.ref});
                       });
    ASSERT_EQ(items.size(), 1u);
    bool back = false;
    session.Undo(items, [&](std::size_t, bool isBack, const std::string&) { back = isBack; });
    session.Release();
    EXPECT_TRUE(back);
    EXPECT_EQ(ReadBytes(fs.Path() + "/a.mp3"), bytes);
}

// On a share that serves one call at a time, reading ahead would only
// queue every file twice: it gives up at once.
TEST(RenameOnAShare, ReadingAheadGivesUpWhereCallsAreServedOneAtATime)
{
    TempDir state;
    const std::string counts = state / "counts";
    TestFs fs = TestFs::Ours("latency_us=2000,count_file=" + counts);
    if (!fs.Mounted())
        GTEST_SKIP() << fs.Reason();
    constexpr int kFiles = 100;
    for (int i = 0; i < kFiles; ++i)
        WriteBytes(fs.Backing() + "/t" + std::to_string(i) + ".mp3", Audio(300) + Record("Song " + std::to_string(i)));
    const ProgramResult run = RunProgram(RENAME_EXE, {"-t", "-q", fs.Path()}, "", {{"XDG_STATE_HOME", state.Path()}},
                                         state / "out", state / "err");
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(fs.Unmount());
    std::ifstream in(counts);
    std::string op;
    long n = 0, opens = 0;
    while (in >> op >> n)
        opens = op == "open" ? n : opens;
    EXPECT_GE(opens, kFiles);
    EXPECT_LT(opens, kFiles * 3 / 2);   // the few read while deciding, and no more
}

} // namespace
