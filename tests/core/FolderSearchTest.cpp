#include "platform/FolderSearch.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <vector>

TEST(FolderSearchTest, DepthCostsNoDescriptors)
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
    FolderIds entered;
    std::vector<std::string> found;
    const bool searched = SearchMp3Files(dir.Path(), entered, [&found](const FoundFile& file) {
        found.push_back(file.path);
        return true;
    });
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_TRUE(searched);
    EXPECT_EQ(found, std::vector<std::string>{deep + "/bottom.mp3"});
}
