#include "platform/FolderTable.h"
#include "platform/ReadAhead.h"

#include "tests/Manifest.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <vector>

TEST(FolderTableTest, ADeepWalkHoldsFewDescriptorsAndReopensEveryFolderByIdentity)
{
    TempDir dir;
    std::string deep = dir.Path();
    for (int i = 0; i < 1100; ++i) {
        deep += "/d";
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    WriteBytes(deep + "/bottom.mp3", "x");
    rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = std::min<rlim_t>(1024, old.rlim_max);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    CFolderTable table;
    std::set<FileId> entered;
    std::vector<std::uint32_t> folders;
    const int walked = WalkMp3Files(dir.Path(), table, entered, [&folders](const WalkedFile& file) {
        folders.push_back(file.folder);
        return true;
    }, {});
    // Every folder reached again from "/" (the cache holds a few hundred).
    CFolderTable again;
    again.CopyFolders(table);
    const int bottom = folders.empty() ? -1 : again.Open(folders[0]);
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_EQ(walked, 1);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_GE(bottom, 0);
    EXPECT_EQ(table.Path(folders[0]), deep);
}

TEST(FolderTableTest, ReadingAheadStartsOnlyOnSlowReadsAndChangesNothing)
{
    TempDir dir;
    for (int i = 0; i < 200; ++i)
        WriteBytes(dir / ("t" + std::to_string(i) + ".mp3"), Audio(300) + Record("Song"));
    const auto before = TakeManifest(dir.Path());
    CFolderTable table;
    std::set<FileId> entered;
    std::vector<std::string> names;
    ASSERT_EQ(WalkMp3Files(dir.Path(), table, entered, [&names](const WalkedFile& file) {
        names.push_back(file.name);
        return true;
    }, {}), 1);
    const auto fileAt = [&names](std::size_t i, std::uint32_t& folder, std::string_view& name) {
        folder = 0;
        name = names[i];
    };
    for (const double seconds : {1e-6, 1e-3}) {
        CReadAhead ahead(table, names.size(), true, fileAt);
        for (std::size_t i = 0; i < names.size(); ++i)
            ahead.At(i, ahead.Timing() ? seconds : 0.0);
        EXPECT_EQ(ahead.Started(), seconds > 1e-4);
        ahead.Stop();
    }
    EXPECT_EQ(TakeManifest(dir.Path()), before);
}
