// SPDX-License-Identifier: GPL-3.0-or-later
// mp3tavoly-rename where music lives: on file systems without rename flags or
// hard links, folding letter case, refusing names. On each, one folder with a
// case clash, a clash inside the batch, a taken name, a name to filter, a name
// the file system may refuse and a case-only rename: nothing lost, nothing
// replaced, and the undo gives the exact tree back; and a run killed at each
// of its moves is undone as exactly.
#include "TestFs.h"

#include "RunProgram.h"
#include "core/TestFiles.h"
#include "Id3v2Bytes.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <csignal>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

using tavoly_test::TestFs;

namespace {

using Tree = std::map<std::string, std::string>;   // name: size and checksum of its bytes

Tree Read(const std::string& folder)
{
    Tree tree;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string bytes = ReadBytes(folder + "/" + entry->d_name);
            tree[entry->d_name] = std::to_string(bytes.size()) + ":" + std::to_string(Crc32c(bytes));
        }
        closedir(dir);
    }
    return tree;
}

// The bytes of every file but empty ones (a killed run's placeholder),
// whatever its name: none lost, none written over.
std::multiset<std::string> Contents(const Tree& tree)
{
    std::multiset<std::string> contents;
    for (const auto& [name, digest] : tree) {
        if (digest.compare(0, 2, "0:") != 0)
            contents.insert(digest);
    }
    return contents;
}

void MakeScenario(const std::string& folder)
{
    mkdir(folder.c_str(), 0755);
    const auto mp3 = [&](const std::string& name, const std::string& title) {
        WriteBytes(folder + "/" + name, Audio(150 + name.size()) + Record(title));
    };
    mp3("a.mp3", "Song");
    mp3("b.mp3", "song");             // clashes with a's name where case folds
    mp3("c.mp3", "Same");
    mp3("d.mp3", "Same");             // clashes inside the batch
    mp3("e.mp3", "Taken");
    WriteBytes(folder + "/Taken.mp3", Audio(90));   // no tag: stays, and keeps its name
    mp3("f.mp3", "Wh?at: *Now");      // characters a file name must not hold
    mp3("g.mp3", "Caf\xC3\xA9");      // refused where only ASCII names are kept
    mp3("lower.mp3", "LOWER");        // only its letter case changes
}

struct Rename
{
    std::string state;
    std::vector<std::pair<std::string, std::string>> env;

    ProgramResult operator()(const std::vector<std::string>& args) const
    {
        return RunProgram(RENAME_EXE, args, "", env, state + "/out", state + "/err");
    }
};

// Renames and undoes the scenario in each folder, in one run; the checks say
// where. The rename's output.
std::string RenameAndUndo(const std::vector<std::string>& folders, const std::vector<std::string>& options = {})
{
    TempDir state;
    std::vector<Tree> before;
    for (const std::string& folder : folders) {
        MakeScenario(folder);
        before.push_back(Read(folder));
    }
    const Rename run{state.Path(), {{"XDG_STATE_HOME", state.Path()}, {"LANGUAGE", "en"}}};
    std::vector<std::string> args{"-t", "--tsv"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), folders.begin(), folders.end());
    const ProgramResult renamed = run(args);
    EXPECT_EQ(renamed.status, 1) << renamed.err;   // the clashes fail
    for (std::size_t i = 0; i < folders.size(); ++i) {
        SCOPED_TRACE(folders[i]);
        const Tree after = Read(folders[i]);
        EXPECT_EQ(Contents(after), Contents(before[i])) << renamed.out;
        EXPECT_EQ(after.count("Same.mp3"), 1u) << renamed.out;
        EXPECT_EQ(after.count("LOWER.mp3"), 1u) << renamed.out;
        EXPECT_EQ(after.count("lower.mp3"), 0u) << renamed.out;
        EXPECT_EQ(after.count("e.mp3"), 1u) << renamed.out;
        EXPECT_EQ(after.at("Taken.mp3"), before[i].at("Taken.mp3"));
    }
    const ProgramResult undone = run({"--undo", "--tsv"});
    EXPECT_EQ(undone.status, 0) << undone.out << undone.err;
    for (std::size_t i = 0; i < folders.size(); ++i)
        EXPECT_EQ(Read(folders[i]), before[i]) << folders[i];
    return renamed.out;
}

void Expect(TestFs fs)
{
    if (!fs.Mounted())
        GTEST_SKIP() << fs.Reason();
    RenameAndUndo({fs.Path() + "/music"});
}

} // namespace

TEST(RenameEverywhere, WithoutRenameFlagsOrHardLinksFoldingCase)
{
    Expect(TestFs::Ours("norenameflags,nolinks,caseless"));
}

// Where every call takes a millisecond and calls are answered side by side
// (a share), the moves after the first few are made across folders at once:
// the same outcome, and the same undo.
TEST(RenameEverywhere, OnASlowShareAcrossFolders)
{
    TestFs fs = TestFs::Ours("norenameflags,nolinks,caseless,threads,latency_us=1000");
    if (!fs.Mounted())
        GTEST_SKIP() << fs.Reason();
    // Named from ID3v2 where a file has it: its head is read side by side too.
    mkdir((fs.Path() + "/two").c_str(), 0755);
    WriteBytes(fs.Path() + "/two/v2.mp3", Id3v2(3, Frame(3, "TIT2", Latin1("Second Version"))) + Audio(300));
    const std::string out = RenameAndUndo(
        {fs.Path() + "/one", fs.Path() + "/two", fs.Path() + "/three", fs.Path() + "/four"}, {"--tag", "any"});
    EXPECT_NE(out.find("v2.mp3\tSecond Version.mp3"), std::string::npos) << out;
}

TEST(RenameEverywhere, ExFatThroughFuse)
{
    Expect(TestFs::ExFat());
}

TEST(RenameEverywhere, FatThroughFuse)
{
    Expect(TestFs::Fat());
}

TEST(RenameEverywhere, NtfsThroughNtfs3g)
{
    Expect(TestFs::Ntfs());
}

TEST(RenameEverywhere, SftpShareThroughSshfs)
{
    Expect(TestFs::Sshfs());
}

// Killed just before and just after each call that moves a file or claims a
// name, the run is undone to the exact tree, its placeholders gone.
TEST(RenameEverywhere, ARunKilledAtEachMoveIsUndoneExactly)
{
    TestFs fs = TestFs::Ours("norenameflags,nolinks,caseless");
    if (!fs.Mounted())
        GTEST_SKIP() << fs.Reason();
    int killed = 0;
    for (int at = 1; at <= 24; ++at) {
        for (const char* when : {"before", "after"}) {
            SCOPED_TRACE(std::to_string(at) + " " + when);
            const std::string folder = fs.Path() + "/k" + std::to_string(at) + when;
            TempDir state;
            MakeScenario(folder);
            const Tree before = Read(folder);
            const Rename shimmed{state.Path(),
                                 {{"XDG_STATE_HOME", state.Path()}, {"LANGUAGE", "en"}, {"LD_PRELOAD", KILL_SHIM},
                                  {"TAVOLY_COUNT_MOVES_ONLY", "1"}, {"TAVOLY_KILL_AT", std::to_string(at)},
                                  {"TAVOLY_KILL_WHEN", when}}};
            const ProgramResult run = shimmed({"-t", folder});
            if (run.status != 1000 + SIGKILL)
                continue;   // fewer moves than that, or a build the shim does not reach
            ++killed;
            EXPECT_EQ(Contents(Read(folder)), Contents(before));
            const Rename plain{state.Path(), {{"XDG_STATE_HOME", state.Path()}, {"LANGUAGE", "en"}}};
            const ProgramResult undone = plain({"--undo"});
            EXPECT_EQ(Read(folder), before) << undone.err;
        }
    }
    if (killed == 0)
        GTEST_SKIP() << "the preloaded shim does not reach this build's calls";
}

// The file system itself goes (a stick pulled, a share dropped) in the middle
// of a move; mounted again (a new device number), the run is undone exactly.
TEST(RenameEverywhere, ARunWhoseFileSystemWentIsUndoneWhenItIsBack)
{
    int gone = 0;
    for (const char* op : {"create", "rename"}) {
        for (int step = 0; step < 8; ++step) {
            const int at = 1 + step / 2;
            const std::string done = step % 2 == 1 ? ",kill_done" : "";   // gone before or after doing it
            SCOPED_TRACE(std::string(op) + " " + std::to_string(at) + done);
            TempDir backing, mount, state;
            const std::string switches = "norenameflags,nolinks,caseless";
            // Made beneath it, so that only the run's own calls count.
            MakeScenario(backing.Path() + "/music");
            const Tree before = Read(backing.Path() + "/music");
            {
                TestFs fs = TestFs::Ours(switches + ",kill_op=" + op + ",kill_at=" + std::to_string(at) + done,
                                         backing.Path(), mount.Path());
                if (!fs.Mounted())
                    GTEST_SKIP() << fs.Reason();
                const Rename run{state.Path(), {{"XDG_STATE_HOME", state.Path()}, {"LANGUAGE", "en"}}};
                (void)run({"-t", mount.Path() + "/music"});   // fails when the file system goes
                gone += fs.Alive() ? 0 : 1;
            }
            TestFs again = TestFs::Ours(switches, backing.Path(), mount.Path());
            ASSERT_TRUE(again.Mounted()) << again.Reason();
            EXPECT_EQ(Contents(Read(mount.Path() + "/music")), Contents(before));
            const Rename undo{state.Path(), {{"XDG_STATE_HOME", state.Path()}, {"LANGUAGE", "en"}}};
            const ProgramResult undone = undo({"--undo"});
            EXPECT_EQ(Read(mount.Path() + "/music"), before) << undone.out << undone.err;
        }
    }
    EXPECT_GT(gone, 0);
}
