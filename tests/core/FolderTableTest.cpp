// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FolderTable.h"
#include "platform/ReadAhead.h"

#include "tests/Manifest.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <pthread.h>
#include <utility>
#include <vector>

TEST(FolderTableTest, ADeepWalkHoldsFewDescriptorsAndReopensEveryFolderByIdentity)
{
    TempDir dir;
    const std::string deep = MakeDeepFolders(dir.Path(), 1100);
    WriteBytes(deep + "/bottom.mp3", "x");
    CFolderTable table;
    std::vector<std::uint32_t> folders;
    int walked = 0, bottom = -1;
    {
        ScopedDescriptorLimit limit;
        ASSERT_TRUE(limit.Set());
        std::set<FileId> entered;
        walked = WalkMp3Files(dir.Path(), table, entered, [&folders](const WalkedFile& file) {
            folders.push_back(file.folder);
            return true;
        }, {});
        // Every folder reached again from "/", level by level, on a small
        // stack as a read-ahead thread's, holding no more than it may.
        CFolderTable again;
        again.CopyFolders(table);
        again.LimitOpen(2);
        std::pair<CFolderTable*, std::uint32_t> job{&again, folders.empty() ? 0 : folders[0]};
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, 1 << 16);
        pthread_t thread;
        ASSERT_EQ(pthread_create(&thread, &attributes, [](void* p) -> void* {
            auto* asked = static_cast<std::pair<CFolderTable*, std::uint32_t>*>(p);
            return reinterpret_cast<void*>(static_cast<std::intptr_t>(asked->first->Open(asked->second)));
        }, &job), 0);
        pthread_attr_destroy(&attributes);
        void* result = nullptr;
        pthread_join(thread, &result);
        bottom = static_cast<int>(reinterpret_cast<std::intptr_t>(result));
        EXPECT_LE(again.OpenCount(), 2u);
    }
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
        CReadAhead ahead(table, names.size(), true, fileAt, CReadAhead::kSlowRead);
        for (std::size_t i = 0; i < names.size(); ++i)
            ahead.At(i, ahead.Timing() ? seconds : 0.0);
        EXPECT_EQ(ahead.Started(), seconds > 1e-4);
        ahead.Stop();
    }
    EXPECT_EQ(TakeManifest(dir.Path()), before);
}
