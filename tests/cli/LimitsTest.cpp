// SPDX-License-Identifier: GPL-3.0-or-later
// mp3tavoly-rename under the machine's limits: few descriptors allowed, more
// folders than that; hostile tags under a memory limit.
#include "Id3v2Bytes.h"
#include "RunProgram.h"
#include "core/TestFiles.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// A soft limit (descriptors unless said) lowered while it lives: the
// programs started meanwhile inherit it.
class ScopedSoftLimit
{
public:
    explicit ScopedSoftLimit(rlim_t soft, int resource = RLIMIT_NOFILE) : m_resource(resource)
    {
        getrlimit(m_resource, &m_old);
        rlimit low = m_old;
        low.rlim_cur = soft;
        m_set = soft <= m_old.rlim_max && setrlimit(m_resource, &low) == 0;
    }
    ~ScopedSoftLimit() { setrlimit(m_resource, &m_old); }
    bool Set() const { return m_set; }

private:
    int m_resource;
    rlimit m_old{};
    bool m_set = false;
};

// A sanitizer reserves more address space than any memory limit allows:
// there the memory is not limited.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

std::size_t CountLines(const std::string& text, const std::string& start)
{
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
        count += text.compare(at, start.size(), start) == 0 ? 1 : 0;
        if (text.find('\n', at) == std::string::npos)
            break;
    }
    return count;
}

} // namespace

TEST(LimitsTest, AtSixtyFourDescriptorsThreeThousandFoldersAreRenamedAsTheDryRunSaidAndUndone)
{
    constexpr int kFolders = 3000;
    TempDir dir, state;
    for (int i = 0; i < kFolders; ++i) {
        const std::string folder = dir / ("f" + std::to_string(i));
        mkdir(folder.c_str(), 0755);
        WriteBytes(folder + "/a.mp3", Audio(200) + Record("Song " + std::to_string(i)));
    }
    const std::vector<std::pair<std::string, std::string>> env{{"XDG_STATE_HOME", state.Path()},
                                                               {"LANGUAGE", "en"}};
    const auto run = [&](const std::vector<std::string>& args) {
        return RunProgram(RENAME_EXE, args, "", env, state / "out", state / "err");
    };
    ProgramResult dry, real, undo;
    {
        ScopedSoftLimit limit(64);
        ASSERT_TRUE(limit.Set());
        dry = run({"--dry-run", "--tsv", dir.Path()});
        real = run({"--tsv", dir.Path()});
        undo = run({"--undo", "--quiet"});
    }
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(real.status, 0) << real.err;
    EXPECT_EQ(CountLines(dry.out, "Successful\t"), static_cast<std::size_t>(kFolders));
    EXPECT_TRUE(real.out == dry.out) << "the run did other than its dry run said";
    EXPECT_EQ(undo.status, 0) << undo.err;
    int back = 0;
    for (int i = 0; i < kFolders; ++i)
        back += Exists(dir / ("f" + std::to_string(i) + "/a.mp3")) ? 1 : 0;
    EXPECT_EQ(back, kFolders);
}

// Even where descriptors run short of what the run needs, its dry run
// runs short at the very same files.
TEST(LimitsTest, AtAFewDescriptorsTheDryRunFailsWhatTheRunFails)
{
    // What the program starts with: the descriptors this test holds (which
    // it inherits, as from ctest) and the two of its output files.
    std::size_t inherited = 0;
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(fds))
            inherited += entry->d_name[0] != '.' ? 1 : 0;
        closedir(fds);
        --inherited;   // the listing's own
    }
    for (const rlim_t spare : {3, 4, 5, 6}) {
        const rlim_t soft = inherited + 2 + spare;
        SCOPED_TRACE(soft);
        TempDir dir, state;
        for (int i = 0; i < 40; ++i) {
            const std::string folder = dir / ("f" + std::to_string(i));
            mkdir(folder.c_str(), 0755);
            WriteBytes(folder + "/a.mp3", Audio(200) + Record("Song " + std::to_string(i)));
        }
        const std::vector<std::pair<std::string, std::string>> env{{"XDG_STATE_HOME", state.Path()},
                                                                   {"LANGUAGE", "en"}};
        ProgramResult dry, real;
        {
            ScopedSoftLimit limit(soft);
            ASSERT_TRUE(limit.Set());
            dry = RunProgram(RENAME_EXE, {"--dry-run", "--tsv", dir.Path()}, "", env, state / "out", state / "err");
            real = RunProgram(RENAME_EXE, {"--tsv", dir.Path()}, "", env, state / "out", state / "err");
        }
        EXPECT_FALSE(dry.out.empty());
        EXPECT_TRUE(real.out == dry.out) << dry.out << "\n---\n" << real.out;
    }
}

// One planted file stops no run: 30,000 chapters each inside the one before
// (a reader that follows them down overflows its stack), and a title that
// inflates to 1000 MiB, among ordinary files, under 2 GiB of address space.
TEST(LimitsTest, HostileId3v2TagsStopNoRunUnderAMemoryLimit)
{
    TempDir dir, state;
    // The artist is wanted and is nowhere: the whole tag is read.
    WriteBytes(dir / "nested.mp3", Id3v2(4, Frame(4, "TIT2", Latin1("Chaptered")) + NestedChapters(30000)
                                                + std::string(16, '\0'))
                                       + Audio(200) + Record("Nested v1"));
    WriteBytes(dir / "bomb.mp3", Id3v2(4, Frame(4, "TIT2", SyncSafe(1000u << 20) + ZeroBomb(1000), '\x09'))
                                     + Audio(200) + Record("Bomb v1"));
    constexpr int kOthers = 100;
    for (int i = 0; i < kOthers; ++i)
        WriteBytes(dir / ("f" + std::to_string(i) + ".mp3"),
                   Id3v2(3, Frame(3, "TIT2", Latin1("Song " + std::to_string(i)))) + Audio(200));
    const std::vector<std::pair<std::string, std::string>> env{{"XDG_STATE_HOME", state.Path()},
                                                               {"LANGUAGE", "en"}};
    ProgramResult run;
    {
        std::optional<ScopedSoftLimit> limit;
        if (!kSanitized) {
            limit.emplace(rlim_t(2) << 30, RLIMIT_AS);
            ASSERT_TRUE(limit->Set());
        }
        run = RunProgram(RENAME_EXE, {"--tag", "any", "-a", "--tsv", dir.Path()}, "", env, state / "out",
                         state / "err");
    }
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(CountLines(run.out, "Successful\t"), static_cast<std::size_t>(kOthers + 2)) << run.out;
    EXPECT_TRUE(Exists(dir / "Chaptered.mp3"));
    EXPECT_TRUE(Exists(dir / "Bomb v1.mp3"));   // the title gives nothing: ID3v1's
    for (int i = 0; i < kOthers; ++i)
        EXPECT_TRUE(Exists(dir / ("Song " + std::to_string(i) + ".mp3"))) << i;
}
