// SPDX-License-Identifier: GPL-3.0-or-later
// Faults from outside the program, each checked with a checksum manifest of
// the folder: nothing may be lost, replaced or corrupted.
#include "PlayerTestSupport.h"
#include "tests/Manifest.h"

#include "core/TagFile.h"
#include "editor/TagEditorDlg.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Audio bytes that differ from file to file, and a tag with this title.
std::string UniqueMp3(const std::string& title, int id)
{
    std::string bytes = Mp3Bytes(title);
    const std::string mark = "id " + std::to_string(id);
    bytes.replace(8, mark.size(), mark);
    return bytes;
}

std::string Numbered(const char* format, int i)
{
    char name[64];
    std::snprintf(name, sizeof name, format, i);
    return name;
}

// What another process does to the folder while the program works in it:
// one step per file, from the last row back, so that it meets the batch
// somewhere in the middle. The child only makes system calls; which steps
// found their file is read back from shared memory.
class Interference
{
public:
    enum Step { kNone, kRemove, kMoveAway, kTakeName };

    explicit Interference(std::vector<std::pair<Step, std::string>> steps)
        : m_steps(std::move(steps))
    {
        for (auto& s : m_steps)
            if (s.first == kMoveAway)
                m_movedTo.push_back(s.second + ".moved");
        m_done = static_cast<char*>(mmap(nullptr, m_steps.size() + 1, PROT_READ | PROT_WRITE,
                                         MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    }
    ~Interference() { munmap(m_done, m_steps.size() + 1); }

    void Start()
    {
        m_pid = fork();
        if (m_pid != 0)
            return;
        size_t moved = m_movedTo.size();
        for (size_t i = m_steps.size(); i-- > 0;)
        {
            const char* path = m_steps[i].second.c_str();
            int ok = 0;
            switch (m_steps[i].first)
            {
            case kRemove: ok = unlink(path) == 0; break;
            case kMoveAway: ok = rename(path, m_movedTo[--moved].c_str()) == 0; break;
            case kTakeName:
            {
                const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
                // The file holds its own path: Checksum(path) is its entry.
                ok = fd >= 0 && write(fd, path, m_steps[i].second.size()) > 0;
                if (fd >= 0)
                    close(fd);
                break;
            }
            case kNone: break;
            }
            m_done[i] = static_cast<char>(ok);
        }
        _exit(0);
    }
    // Waits for the child; true when step i found its file (or name free).
    void Wait() { waitpid(m_pid, nullptr, 0); }
    bool Done(size_t i) const { return m_done[i] != 0; }
private:
    std::vector<std::pair<Step, std::string>> m_steps;
    std::vector<std::string> m_movedTo;
    char* m_done = nullptr;
    pid_t m_pid = -1;
};

class FaultTest : public QueueTestBase
{
protected:
    const QueueEntry& Row(int i) const { return g_queue.Row(static_cast<size_t>(i)); }
    std::string At(const std::string& name) const { return dir.Path() + "/" + name; }
    // Queues files named after format, each with a unique content and the
    // title titleOf(i).
    template <typename TitleOf>
    void QueueMany(int count, const char* format, TitleOf titleOf)
    {
        g_queue.BeginAdding();
        for (int i = 0; i < count; ++i)
            Queue(Numbered(format, i), UniqueMp3(titleOf(i), i));
        g_queue.EndAdding();
    }
    static void RunAll(int (CQueueList::*command)())
    {
        g_queue.SelectAll();
        (g_queue.*command)();
    }
};
} // namespace

// Ignoring SIGXFSZ from start-up lets the write fail with EFBIG, and the
// rollback then takes the partial tag off again.
TEST_F(FaultTest, TagAppendPastTheFileSizeLimitRollsBack)
{
    const std::string bytes = std::string(8100, '\x55');
    const std::string path = Queue("song.mp3", bytes);
    const Manifest before = TakeManifest(dir.Path());
    g_queue.DeselectAll();
    g_queue.SelectRow(0);
    dlg->OpenTagEditor();

    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit limited = old;
    limited.rlim_cur = 8192;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    wxTEST_DIALOG(g_tagEditor.OnSave(), ExpectWarning("Can't save to the file: " + path));
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);

    EXPECT_EQ(ReadAll(path), bytes);
    const Losses losses = Compare(before, TakeManifest(dir.Path()));
    EXPECT_EQ(losses, Losses{}) << losses;
    std::cout << "[ manifest ] file-size limit, 1 file: " << losses << "\n";
}

// Another process removes queued files, moves them away and takes their
// target names while the batch runs, and again during Undo. However the two
// interleave, no file is replaced and a row says Successful only for a file
// that really has its new name.
TEST_F(FaultTest, BatchRenameAndUndoWhileAnotherProcessChangesTheFolder)
{
    const int n = 20000;
    QueueMany(n, "f%05d.mp3", [](int i) { return Numbered("T%05d", i); });
    const Manifest original = TakeManifest(dir.Path());
    const auto contentOf = [&](int i) { return original.at(Numbered("f%05d.mp3", i)); };

    std::vector<std::pair<Interference::Step, std::string>> steps;
    for (int i = 0; i < n; ++i)
    {
        const int k = i % 10;
        steps.emplace_back(k == 1   ? Interference::kRemove
                           : k == 2 ? Interference::kMoveAway
                           : k == 3 ? Interference::kTakeName
                                    : Interference::kNone,
                           At(Numbered(k == 3 ? "T%05d.mp3" : "f%05d.mp3", i)));
    }
    Losses total;
    // claims(i): row i says its file is at its path.
    const auto check = [&](Interference& other, const Manifest& from, auto claims) {
        const Manifest after = TakeManifest(dir.Path());
        std::multiset<std::string> gone, added;
        std::set<std::string> others;
        int done = 0;
        for (int i = 0; i < n; ++i)
        {
            const auto& step = steps[static_cast<size_t>(i)];
            done += other.Done(static_cast<size_t>(i));
            if (step.first == Interference::kTakeName)
            {
                others.insert(Checksum(step.second));
                if (other.Done(static_cast<size_t>(i)))
                    added.insert(Checksum(step.second));
            }
            if (step.first == Interference::kRemove && other.Done(static_cast<size_t>(i)))
                gone.insert(contentOf(i));
            if (claims(i))
            {
                const std::string& path = Row(i).path;
                const auto found = after.find(path.substr(path.rfind('/') + 1));
                EXPECT_TRUE(found != after.end() && found->second == contentOf(i)) << path;
            }
        }
        const Losses l = Compare(from, after, gone, added, others);
        EXPECT_EQ(l, Losses{}) << l;
        total.lost += l.lost, total.replaced += l.replaced, total.corrupted += l.corrupted;
        std::cout << "[ manifest ] the other process changed " << done << " names\n";
    };

    Interference during(steps);
    during.Start();
    RunAll(&CQueueList::AutoRenameSelected);
    during.Wait();
    check(during, original, [&](int i) { return Row(i).state == kStateSuccessful; });
    std::vector<bool> wasRenamed;
    int renamed = 0;
    for (int i = 0; i < n; ++i)
    {
        wasRenamed.push_back(Row(i).state == kStateSuccessful);
        renamed += wasRenamed.back();
        if (during.Done(static_cast<size_t>(i)) && i % 10 == 3)
        {
            EXPECT_EQ(Row(i).state, kStateRenameFailed) << "a taken name is never replaced";
        }
    }
    EXPECT_GE(renamed, n * 7 / 10);

    // Undo: the old names are taken, the new ones removed or moved away.
    for (int i = 0; i < n; ++i)
    {
        const int k = i % 10;
        steps[static_cast<size_t>(i)] = {k == 4   ? Interference::kTakeName
                                         : k == 5 ? Interference::kRemove
                                         : k == 6 ? Interference::kMoveAway
                                                  : Interference::kNone,
                                         At(Numbered(k == 4 ? "f%05d.mp3" : "T%05d.mp3", i))};
    }
    const Manifest renamedFolder = TakeManifest(dir.Path());
    Interference undoing(steps);
    undoing.Start();
    RunAll(&CQueueList::UndoSelected);
    undoing.Wait();
    check(undoing, renamedFolder, [&](int i) {
        return wasRenamed[static_cast<size_t>(i)] && Row(i).state == kStateWaiting;
    });
    for (int i = 4; i < n; i += 10)
    {
        if (undoing.Done(static_cast<size_t>(i)))
        {
            EXPECT_NE(Row(i).state, kStateWaiting) << "a taken old name is never replaced";
        }
    }
    std::cout << "[ manifest ] concurrent batch of " << n << " files, rename and undo: " << total
              << "\n";
}

TEST_F(FaultTest, FileTurnedIntoFifoFolderOrDanglingLinkIsReportedNotTouched)
{
    for (const char* title : {"A", "B", "C", "D"})
        Queue(std::string(title) + ".src.mp3", UniqueMp3(title, title[0]));
    ASSERT_EQ(unlink(At("A.src.mp3").c_str()), 0);
    ASSERT_EQ(mkfifo(At("A.src.mp3").c_str(), 0644), 0);
    ASSERT_EQ(unlink(At("B.src.mp3").c_str()), 0);
    ASSERT_EQ(mkdir(At("B.src.mp3").c_str(), 0755), 0);
    ASSERT_EQ(unlink(At("C.src.mp3").c_str()), 0);
    ASSERT_EQ(symlink("nowhere.mp3", At("C.src.mp3").c_str()), 0);
    const Manifest before = TakeManifest(dir.Path());

    RunAll(&CQueueList::AutoRenameSelected);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(Row(i).state, kStateUnreadable) << Row(i).path;
    }
    EXPECT_EQ(Row(3).state, kStateSuccessful);
    EXPECT_EQ(Compare(before, TakeManifest(dir.Path())), Losses{});
    RunAll(&CQueueList::UndoSelected);
    EXPECT_EQ(TakeManifest(dir.Path()), before);
    std::cout << "[ manifest ] changed file types, 4 files: " << Losses{} << "\n";
}

TEST_F(FaultTest, CollidingTitlesInOneBatchAllComeBackOnUndo)
{
    QueueMany(500, "f%03d.mp3", [](int i) { return "T" + std::to_string(i % 4); });
    const Manifest before = TakeManifest(dir.Path());

    RunAll(&CQueueList::AutoRenameSelected);
    int renamed = 0, refused = 0;
    for (int i = 0; i < 500; ++i)
    {
        renamed += Row(i).state == kStateSuccessful;
        refused += Row(i).state == kStateRenameFailed;
    }
    EXPECT_EQ(renamed, 4);
    EXPECT_EQ(refused, 496);
    for (int t = 0; t < 4; ++t)
        EXPECT_TRUE(Exists(At("T" + std::to_string(t) + ".mp3")));
    const Losses losses = Compare(before, TakeManifest(dir.Path()));
    EXPECT_EQ(losses, Losses{}) << losses;

    RunAll(&CQueueList::UndoSelected);
    EXPECT_EQ(TakeManifest(dir.Path()), before) << "every file back under its old name";
    for (int i = 0; i < 500; ++i)
    {
        EXPECT_EQ(Row(i).state, kStateWaiting);
    }
    std::cout << "[ manifest ] collision batch of 500 files: " << losses << "\n";
}
