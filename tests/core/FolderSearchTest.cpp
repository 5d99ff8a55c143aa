// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FolderSearch.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <vector>

TEST(FolderSearchTest, DepthCostsNoDescriptors)
{
    TempDir dir;
    const std::string deep = MakeDeepFolders(dir.Path(), 1100);
    WriteBytes(deep + "/bottom.mp3", "x");
    bool searched = false;
    std::vector<std::string> found;
    {
        ScopedDescriptorLimit limit;
        ASSERT_TRUE(limit.Set());
        FolderIds entered;
        searched = SearchMp3Files(dir.Path(), entered, [&found](const FoundFile& file) {
            found.push_back(file.path);
            return true;
        });
    }
    EXPECT_TRUE(searched);
    EXPECT_EQ(found, std::vector<std::string>{deep + "/bottom.mp3"});
}
