// SPDX-License-Identifier: GPL-3.0-or-later
// The journal's writer and reader on files made here: torn tails, damage,
// records and versions this reader does not know, empty runs, and marks that
// must not be lost for lack of room.
#include "core/Journal.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

std::string Hex8(std::uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// A version 2 frame built by hand.
std::string Frame(char type, const std::vector<std::string>& fields)
{
    std::string payload;
    for (const std::string& field : fields)
        payload += field + '\0';
    const std::string head = type + Hex8(static_cast<std::uint32_t>(payload.size()));
    return std::string(2, '\0') + head + Hex8(Crc32c(head + payload)) + payload;
}

// A file-size limit while it lives, with SIGXFSZ ignored so that a write past
// it fails with EFBIG instead of ending the test.
class ScopedFileSizeLimit
{
public:
    explicit ScopedFileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit low = m_old;
        low.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &low);
    }
    ~ScopedFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

class RunJournal : public ::testing::Test
{
protected:
    TempDir dir;
    const std::string folder = dir / "journal";
    CFolderTable table;
    std::uint32_t root = table.AddRoot(dir.Path(), FileId{1, 2});

    // Queues moves first..first+count-1 of a run; their numbers.
    std::vector<std::uint64_t> Queue(CRunRecorder& journal, int first, int count)
    {
        std::vector<std::uint64_t> seqs;
        for (int i = first; i < first + count; ++i)
            seqs.push_back(journal.QueueMove(table, root, "old" + std::to_string(i) + ".mp3",
                                             "new" + std::to_string(i) + ".mp3",
                                             FileId{1, 100 + static_cast<std::uint64_t>(i), 7}));
        return seqs;
    }

    // A finished run of count moves, all made; its file's path.
    std::string MakeRun(int count)
    {
        CRunRecorder journal(folder);
        std::string why;
        EXPECT_EQ(journal.Prepare(why), 1) << why;
        Queue(journal, 0, count);
        EXPECT_EQ(journal.WriteQueued(), 1);
        EXPECT_EQ(journal.Finish(), 1);
        return folder + "/run-" + journal.Id();
    }

    int Open(CPastRun& run, const std::string& id = "1")
    {
        std::string why;
        return run.Open(folder, id, why);
    }

    void Append(const std::string& path, const std::string& bytes) { WriteBytes(path, ReadBytes(path) + bytes); }

    void PutRun(const std::string& id, const std::string& bytes)
    {
        mkdir(folder.c_str(), 0700);
        WriteBytes(folder + "/run-" + id, bytes);
        chmod((folder + "/run-" + id).c_str(), 0600);
    }
};

TEST_F(RunJournal, ATornTailIsNoDamageAndAMarkAfterItReadsWhole)
{
    const std::string path = MakeRun(3);
    Append(path, std::string("\0\0M0000", 7));   // killed while writing a record
    {
        CPastRun run;
        ASSERT_EQ(Open(run), 1);
        EXPECT_TRUE(run.Damaged().empty());
        ASSERT_EQ(run.Moves().size(), 3u);
        EXPECT_EQ(run.MarkBack(run.Moves()[1]), 1);
        EXPECT_EQ(run.Flush(), 1);
    }
    CPastRun again;
    ASSERT_EQ(Open(again), 1);
    EXPECT_TRUE(again.Damaged().empty());   // the torn bytes are named as such
    EXPECT_TRUE(again.Moves()[1].back);
    EXPECT_EQ(again.Left(), 2u);
    EXPECT_NE(ReadBytes(path).find(std::string("\0\0M0000", 7)), std::string::npos);   // never cut off
}

TEST_F(RunJournal, ADamagedRecordIsSkippedAndItsFileStaysUnknown)
{
    const std::string path = MakeRun(3);
    std::string bytes = ReadBytes(path);
    const std::size_t second = bytes.find("old1.mp3");
    bytes[second] ^= 0x20;
    WriteBytes(path, bytes);
    {
        CPastRun run;
        ASSERT_EQ(Open(run), 1);
        ASSERT_EQ(run.Damaged().size(), 1u);
        ASSERT_EQ(run.Moves().size(), 2u);   // the records after it are still read
        for (RunMove& move : run.Moves())
            EXPECT_EQ(run.MarkBack(move), 1);
        EXPECT_EQ(run.Flush(), 1);
        EXPECT_EQ(run.Left(), 0u);
        EXPECT_FALSE(run.Closed());   // the damaged record may have been a move
    }
    const std::vector<RunSummary> runs = ListRuns(folder);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].count, 2u);
    EXPECT_EQ(runs[0].left, 0u);
    EXPECT_EQ(runs[0].damaged, 1u);
    EXPECT_FALSE(runs[0].closed);
}

// A later version may add record types that a reader can do without.
TEST_F(RunJournal, ARecordOfAnUnknownTypeIsSkippedWithoutDamage)
{
    const std::string path = MakeRun(2);
    {
        CPastRun run;
        ASSERT_EQ(Open(run), 1);
        for (RunMove& move : run.Moves())
            EXPECT_EQ(run.MarkBack(move), 1);
        EXPECT_EQ(run.Flush(), 1);
    }
    Append(path, Frame('Q', {"12", "anything"}));
    CPastRun run;
    ASSERT_EQ(Open(run), 1);
    EXPECT_TRUE(run.Damaged().empty());
    EXPECT_TRUE(run.Closed());   // still undone
    const std::vector<RunSummary> runs = ListRuns(folder);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].closed);
    EXPECT_EQ(runs[0].damaged, 0u);
}

// Where inode numbers do not last, a move's file is known by content, in an
// I record after its M that a reader attaches to that move.
TEST_F(RunJournal, AContentIdentityIsReadBackWithItsMove)
{
    FileId content{1, 200, 7};
    content.size = 4096;
    content.mtimeSec = -86400;   // before 1970
    content.mtimeNsec = 999999999;
    content.hash = 0xFEDCBA9876543210ull;
    content.byContent = true;
    std::string path;
    {
        CRunRecorder journal(folder);
        std::string why;
        ASSERT_EQ(journal.Prepare(why), 1) << why;
        (void)journal.QueueMove(table, root, "a.mp3", "b.mp3", content);
        Queue(journal, 1, 1);
        ASSERT_EQ(journal.WriteQueued(), 1);
        ASSERT_EQ(journal.Finish(), 1);
        path = folder + "/run-" + journal.Id();
    }
    {
        CPastRun run;
        ASSERT_EQ(Open(run), 1);
        EXPECT_TRUE(run.Damaged().empty());
        ASSERT_EQ(run.Moves().size(), 2u);
        const FileId& read = run.Moves()[0].file;
        EXPECT_TRUE(read.byContent);
        EXPECT_EQ(read.inode, 200u);
        EXPECT_EQ(read.size, content.size);
        EXPECT_EQ(read.mtimeSec, content.mtimeSec);
        EXPECT_EQ(read.mtimeNsec, content.mtimeNsec);
        EXPECT_EQ(read.hash, content.hash);
        EXPECT_FALSE(run.Moves()[1].file.byContent);   // ext4 and the like: by inode alone
    }
    // One for no move, or a second for the same move, is damage.
    Append(path, Frame('I', {"9", "1", "0", "0", "1"}) + Frame('I', {"1", "1", "0", "0", "1"}));
    CPastRun run;
    ASSERT_EQ(Open(run), 1);
    EXPECT_EQ(run.Damaged().size(), 2u);
    EXPECT_EQ(run.Moves()[0].file.hash, content.hash);
}

TEST_F(RunJournal, ANewerVersionIsListedAndLeftAlone)
{
    const std::string bytes = "mp3tavoly-rename journal 3\n1700000000\n" + Frame('M', {"whatever"}) + "more";
    PutRun("1", bytes);
    {
        CPastRun run;
        EXPECT_EQ(Open(run), -6);
        EXPECT_EQ(run.Forget(), 0);
        EXPECT_EQ(run.Flush(), 0);
    }
    EXPECT_EQ(ReadBytes(folder + "/run-1"), bytes);   // not a byte added
    const std::vector<RunSummary> runs = ListRuns(folder);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].newer);
    EXPECT_TRUE(runs[0].problem.empty());
    EXPECT_EQ(runs[0].started, 1700000000);
}

TEST_F(RunJournal, Version1IsUndoneAndGetsOnlyItsOwnMark)
{
    const std::string bytes = std::string("mp3tavoly-rename journal 1\n1600000000\n") + "M/music/a.mp3" + '\0'
                              + "A.mp3" + '\0' + "M/music/b.mp3" + '\0' + "B.mp3" + '\0' + "F" + '\0';
    PutRun("1", bytes);
    {
        CPastRun run;
        ASSERT_EQ(Open(run), 1);
        EXPECT_EQ(run.Version(), 1);
        ASSERT_EQ(run.Moves().size(), 1u);   // the failed one left out
        EXPECT_EQ(run.Moves()[0].legacyPath, "/music/a.mp3");
        EXPECT_EQ(run.Moves()[0].newName, "A.mp3");
        EXPECT_EQ(run.MarkBack(run.Moves()[0]), 1);
        EXPECT_EQ(run.Flush(), 1);
    }
    EXPECT_EQ(ReadBytes(folder + "/run-1"), bytes + std::string("U\0", 2));
    CPastRun run;
    ASSERT_EQ(Open(run), 1);
    EXPECT_TRUE(run.Closed());
}

// A run killed at its first write leaves an empty file, or a header cut short.
TEST_F(RunJournal, AnEmptyRunIsListedAndForgetRemovesIt)
{
    PutRun("1", "");
    PutRun("2", "mp3tavoly-rename journal 2\n17");
    PutRun("3", "mp3tavoly-rename journal 2x\n17\n");
    const std::vector<RunSummary> runs = ListRuns(folder);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_TRUE(runs[0].headerless && runs[0].empty);
    EXPECT_TRUE(runs[1].headerless && !runs[1].empty);
    EXPECT_FALSE(runs[2].headerless);
    EXPECT_EQ(runs[2].problem, "not a journal");
    for (const std::string id : {"1", "2"}) {
        CPastRun run;
        ASSERT_EQ(Open(run, id), -5);
        EXPECT_EQ(run.Forget(), 1);
        EXPECT_FALSE(Exists(folder + "/run-" + id));
    }
    CPastRun notJournal;
    EXPECT_EQ(Open(notJournal, "3"), -3);
    EXPECT_EQ(RunIdsNewestFirst(folder), std::vector<std::string>{"3"});
}

// Room for the failure marks is taken with the moves: a limit stops the run
// before a batch, never between a failed move and its mark.
TEST_F(RunJournal, FailureMarksAreNeverLostForLackOfRoom)
{
    CRunRecorder journal(folder);
    std::string why;
    ASSERT_EQ(journal.Prepare(why), 1) << why;
    const std::vector<std::uint64_t> seqs = Queue(journal, 0, 10);
    ASSERT_EQ(journal.WriteQueued(), 1);
    const std::string path = folder + "/run-" + journal.Id();
    const std::size_t written = ReadBytes(path).size();
    const std::size_t marks = 9 * Frame('F', {"1"}).size() + Frame('F', {"10"}).size();   // one a move
    {
        // Room for exactly the marks of what is written: the next batch waits.
        ScopedFileSizeLimit limit(written + marks);
        for (std::size_t i = 1; i < seqs.size(); ++i)
            journal.QueueFailed(seqs[i]);
        Queue(journal, 10, 1);
        errno = 0;
        EXPECT_EQ(journal.WriteQueued(), 0);
        EXPECT_EQ(errno, EFBIG);
        EXPECT_EQ(ReadBytes(path).size(), written);   // refused whole, not cut
        EXPECT_EQ(journal.Finish(), 1);
    }
    const std::vector<RunSummary> runs = ListRuns(folder);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].count, 1u);   // one renamed, nine failed
}

// The system may report a failed write to disk once only: the first failure
// is kept, and the last call tells it.
TEST_F(RunJournal, AFailedWriteIsKeptUntilTheEnd)
{
    MakeRun(2);
    CPastRun run;
    ASSERT_EQ(Open(run), 1);
    const std::size_t size = ReadBytes(folder + "/run-1").size();
    {
        ScopedFileSizeLimit limit(size);
        EXPECT_EQ(run.MarkBack(run.Moves()[0]), 1);
        EXPECT_EQ(run.Flush(), 0);
        EXPECT_EQ(errno, EFBIG);
    }
    EXPECT_EQ(run.MarkBack(run.Moves()[1]), 1);
    errno = 0;
    EXPECT_EQ(run.Flush(), 0);   // written now, but the earlier mark is lost
    EXPECT_EQ(errno, EFBIG);

    CRunRecorder journal(folder);
    std::string why;
    ASSERT_EQ(journal.Prepare(why), 1) << why;
    const std::vector<std::uint64_t> seqs = Queue(journal, 0, 2);
    ASSERT_EQ(journal.WriteQueued(), 1);
    journal.QueueFailed(seqs[0]);
    ScopedFileSizeLimit limit(ReadBytes(folder + "/run-" + journal.Id()).size());
    EXPECT_EQ(journal.Finish(), 0);   // the mark could not be written
    EXPECT_EQ(errno, EFBIG);
}

} // namespace
