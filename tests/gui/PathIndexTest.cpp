// SPDX-License-Identifier: GPL-3.0-or-later
#include "queue/PathIndex.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

// Against a plain map, through many inserts, renames and erases, with paths
// that share their ends so probe runs overlap and wrap around the table.
TEST(PathIndexTest, AgreesWithAMapThroughInsertsRenamesAndErases)
{
    std::mt19937 random(12345);
    std::vector<std::string> paths;
    std::map<std::string, std::uint32_t> expected;
    PathIndex index;
    auto pathOf = [&paths](std::uint32_t row) -> const std::string& { return paths[row]; };
    auto find = [&](const std::string& path) { return index.Find(path, PathIndex::Hash(path), pathOf); };

    for (int step = 0; step < 20000; ++step)
    {
        const int action = static_cast<int>(random() % 4);
        if (action < 2 || paths.empty())
        {
            std::string path = "/m/" + std::to_string(random() % 5000) + ".mp3";
            if (expected.count(path))
                continue;
            paths.push_back(path);
            const auto row = static_cast<std::uint32_t>(paths.size() - 1);
            index.Insert(row, PathIndex::Hash(path));
            expected[path] = row;
        }
        else
        {
            // Rename a row: out under the old path, in under the new one.
            const auto row = static_cast<std::uint32_t>(random() % paths.size());
            if (paths[row].empty())
                continue;
            index.Erase(row, PathIndex::Hash(paths[row]));
            expected.erase(paths[row]);
            std::string renamed = action == 2 ? "/m/r" + std::to_string(random() % 5000) + ".mp3" : "";
            if (!renamed.empty() && !expected.count(renamed))
            {
                paths[row] = renamed;
                index.Insert(row, PathIndex::Hash(renamed));
                expected[renamed] = row;
            }
            else
            {
                paths[row].clear();   // gone from the queue
            }
        }
        if (step % 997 == 0)
        {
            for (const auto& entry : expected)
                ASSERT_EQ(find(entry.first), entry.second) << entry.first;
        }
    }
    EXPECT_EQ(index.Size(), expected.size());
    for (const auto& entry : expected)
        EXPECT_EQ(find(entry.first), entry.second);
    EXPECT_EQ(find("/m/never.mp3"), PathIndex::kNone);
    index.Clear();
    EXPECT_EQ(find(expected.begin()->first), PathIndex::kNone);
}
