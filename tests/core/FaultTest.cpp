// SPDX-License-Identifier: GPL-3.0-or-later
// Faults the file system brings: a full disk, and permissions an ordinary
// user meets (root passes every permission check, so those cases need a
// user: scripts/unprivileged.sh runs them as one).
#include "RenameOne.h"
#include "TestFiles.h"
#include "tests/Manifest.h"

#include "core/TagFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

const char* const kNeedsUser =
    "root passes every permission check; scripts/unprivileged.sh runs this as an ordinary user";

int Write(const std::string& path, const std::string& title)
{
    return TheTagFile().WriteTag(path, "MP3", title, "Artist", "", "", "", "", 255);
}

// Unmounts on every way out of the test.
struct MountGuard
{
    std::string at;
    ~MountGuard() { umount2(at.c_str(), MNT_DETACH); }
};

} // namespace

TEST(FullDisk, AppendFailsWithTheFileUnchangedReplaceNeedsNoSpace)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "filling a disk needs a small tmpfs of its own, and mounting one needs root";
    TempDir dir;
    if (mount("tavoly-full", dir.Path().c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    MountGuard guard{dir.Path()};

    // The append crosses into a page the disk has no room for, after half the
    // tag went into the last page; a replace needs no new page; a file ending
    // early in a page has room for its tag there.
    const std::string untagged = Audio(3 * 4096 - 64), tagged = Audio(3 * 4096 - 128) + Record("Old");
    WriteBytes(dir / "append.mp3", untagged);
    WriteBytes(dir / "replace.mp3", tagged);
    WriteBytes(dir / "room.mp3", Audio(5000));
    const int fill = open((dir / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fill, 0);
    const std::string block = Audio(4096);
    while (write(fill, block.data(), block.size()) > 0) {
    }
    EXPECT_EQ(errno, ENOSPC);
    close(fill);
    const Manifest before = TakeManifest(dir.Path());

    EXPECT_EQ(Write(dir / "append.mp3", "New"), 0);
    EXPECT_EQ(ReadBytes(dir / "append.mp3"), untagged);
    EXPECT_EQ(Write(dir / "replace.mp3", "New"), 1);
    EXPECT_EQ(ReadBytes(dir / "replace.mp3").substr(3 * 4096 - 125, 3), std::string("New"));
    EXPECT_EQ(Write(dir / "room.mp3", "New"), 1);
    EXPECT_EQ(ReadBytes(dir / "room.mp3").size(), 5128u);

    const Losses losses = Compare(before, TakeManifest(dir.Path()),
        {before.at("replace.mp3"), before.at("room.mp3")},
        {FileChecksum(dir / "replace.mp3"), FileChecksum(dir / "room.mp3")});
    EXPECT_EQ(losses, Losses{}) << losses;
    std::cout << "[ manifest ] full disk, " << before.size() << " files: " << losses << "\n";
}

TEST(AsUser, ReadOnlyFileAndFolderAreLeftAsTheyWere)
{
    if (geteuid() == 0)
        GTEST_SKIP() << kNeedsUser;
    TempDir dir;
    const std::string bytes = Audio(600) + Record("Song");
    WriteBytes(dir / "ro.mp3", bytes);
    ASSERT_EQ(mkdir((dir / "rodir").c_str(), 0755), 0);
    WriteBytes(dir / "rodir/a.mp3", bytes);
    ASSERT_EQ(chmod((dir / "ro.mp3").c_str(), 0444), 0);
    ASSERT_EQ(chmod((dir / "rodir").c_str(), 0555), 0);
    const Manifest before = TakeManifest(dir.Path()), beforeInside = TakeManifest(dir / "rodir");

    EXPECT_EQ(Write(dir / "ro.mp3", "New"), 0);
    std::string newName, newPath;
    EXPECT_EQ(AutoRenameOne(dir / "rodir/a.mp3", false, newName, newPath), kStateRenameFailed);
    TempDir journal;
    CRenameSession session(journal / "state");
    std::uint32_t folder = CFolderTable::kNone;
    EXPECT_EQ(session.RenameByHand(folder, dir / "rodir/a.mp3", "b.mp3", newPath), 0);
    EXPECT_EQ(Write(dir / "rodir/a.mp3", "New"), 1) << "the file itself stays writable";

    EXPECT_EQ(Compare(before, TakeManifest(dir.Path())), Losses{});
    EXPECT_EQ(Compare(beforeInside, TakeManifest(dir / "rodir"), {beforeInside.at("a.mp3")},
                      {FileChecksum(dir / "rodir/a.mp3")}), Losses{});
    chmod((dir / "rodir").c_str(), 0755);
}

TEST(AsUser, UnreadableFileAndUnenterableFolderAreReportedAndUntouched)
{
    if (geteuid() == 0)
        GTEST_SKIP() << kNeedsUser;
    TempDir dir;
    const std::string bytes = Audio(600) + Record("Song");
    WriteBytes(dir / "locked.mp3", bytes);
    ASSERT_EQ(mkdir((dir / "closed").c_str(), 0755), 0);
    WriteBytes(dir / "closed/in.mp3", bytes);
    ASSERT_EQ(chmod((dir / "locked.mp3").c_str(), 0), 0);
    ASSERT_EQ(chmod((dir / "closed").c_str(), 0600), 0);   // listable names, no way in

    for (const std::string& path : {dir / "locked.mp3", dir / "closed/in.mp3"}) {
        SCOPED_TRACE(path);
        std::string title, artist, album, year, comment, track, newName, newPath;
        int genre = 7;
        EXPECT_EQ(TheTagFile().ReadTag(path, "MP3", title, artist, album, year, comment, track,
                                       genre), -1);
        EXPECT_EQ(genre, 7);
        EXPECT_EQ(Write(path, "New"), 0);
        EXPECT_EQ(AutoRenameOne(path, false, newName, newPath), kStateUnreadable);
    }

    ASSERT_EQ(chmod((dir / "locked.mp3").c_str(), 0644), 0);
    ASSERT_EQ(chmod((dir / "closed").c_str(), 0755), 0);
    EXPECT_EQ(ReadBytes(dir / "locked.mp3"), bytes);
    EXPECT_EQ(ReadBytes(dir / "closed/in.mp3"), bytes);
    EXPECT_FALSE(Exists(dir / "Song.mp3") || Exists(dir / "closed/Song.mp3"));
}
