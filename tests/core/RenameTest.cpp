// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/RenameBatch.h"
#include "core/TagFile.h"
#include "core/Warning.h"
#include "platform/FileSystem.h"
#include "../ScopedLocale.h"
#include "RenameOne.h"
#include "TestFiles.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace {

std::string MakeMp3(const TempDir& dir, const std::string& name, const std::string& title,
                    const std::string& artist = "")
{
    WriteBytes(dir / name, Audio(400) + Record(title, artist));
    return dir / name;
}

TEST(AutoRename, RenamesAfterTitleAndArtist)
{
    ScopedLocale unset(nullptr);   // Windows-1252
    const struct { std::string title, artist; bool artistFirst; std::string name; } cases[] = {
        {"Yesterday", "Beatles", true, "Beatles - Yesterday.mp3"},
        {"Yesterday", "Beatles", false, "Yesterday.mp3"},
        {"Yesterday", "", true, "Yesterday.mp3"},
        {"Song" + std::string(26, ' '), "", false, "Song .mp3"},
        {"Song", std::string(30, ' '), true, "Song.mp3"},   // an artist of blanks is none
        {"Caf\xE9", "AC/DC", true, "ACDC - Caf\xC3\xA9.mp3"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = MakeMp3(dir, "track01.MP3", c.title, c.artist);
        const std::string content = ReadBytes(path);
        std::string newName, newPath;
        EXPECT_EQ(kStateSuccessful, AutoRenameOne(path, c.artistFirst, newName, newPath));
        EXPECT_EQ(c.name, newName);
        EXPECT_EQ(dir / c.name, newPath);
        EXPECT_FALSE(Exists(path));
        EXPECT_EQ(content, ReadBytes(newPath));
    }
}

TEST(AutoRename, FailuresLeaveTheFileAlone)
{
    TempDir dir;
    WriteBytes(dir / "notag.mp3", Audio(1000));
    WriteBytes(dir / "tiny.mp3", Audio(100));
    MakeMp3(dir, "zeros.mp3", "", "Artist");
    MakeMp3(dir, "punct.mp3", "?!...,;()", "Artist");
    MakeMp3(dir, "blanks.mp3", std::string(30, ' '), "Artist");
    MakeMp3(dir, "nbsp.mp3", "\xA0 \xA0", "Artist");   // no-break spaces in 1252
    MakeMp3(dir, "a.mp3", "Yesterday");
    WriteBytes(dir / "Yesterday.mp3", "other file");
    const struct { const char* name; const char* state; } cases[] = {
        {"notag.mp3", kStateSongNotFound}, {"tiny.mp3", kStateUnreadable},
        {"zeros.mp3", kStateSongNotFound}, {"punct.mp3", kStateSongNotFound},
        {"blanks.mp3", kStateSongNotFound}, {"nbsp.mp3", kStateSongNotFound},
        {"missing.mp3", kStateUnreadable}, {"a.mp3", kStateRenameFailed},
    };
    for (const auto& c : cases) {
        const std::string before = ReadBytes(dir / c.name);
        std::string newName = "n", newPath = "p";
        EXPECT_EQ(c.state, AutoRenameOne(dir / c.name, true, newName, newPath)) << c.name;
        EXPECT_EQ("n" + std::string("p"), newName + newPath);
        EXPECT_EQ(before, ReadBytes(dir / c.name));
    }
    EXPECT_EQ("other file", ReadBytes(dir / "Yesterday.mp3"));
}

TEST(AutoRename, AlreadyNamedOrNameWithBackslash)
{
    TempDir dir;
    std::string newName, newPath;
    const std::string named = MakeMp3(dir, "Yesterday.mp3", "Yesterday");
    EXPECT_EQ(kStateSuccessful, AutoRenameOne(named, false, newName, newPath));
    EXPECT_EQ(named, newPath);

    // A backslash is part of the name here, not a folder: the file stays in dir.
    ASSERT_EQ(0, mkdir((dir / "a").c_str(), 0700));
    EXPECT_EQ(kStateSuccessful, AutoRenameOne(MakeMp3(dir, "a\\b.mp3", "Song"), false,
                                              newName, newPath));
    EXPECT_EQ(dir / "Song.mp3", newPath);
    EXPECT_TRUE(Exists(newPath));
}

TEST(RenameByHand, RefusesNamesThatLeaveTheFolder)
{
    TempDir dir, journal;
    CRenameSession session(journal / "state");
    const std::string path = MakeMp3(dir, "a.mp3", "T");
    std::uint32_t folder = CFolderTable::kNone;
    ASSERT_EQ(0, mkdir((dir / "sub").c_str(), 0700));
    for (const std::string& name : {std::string(), std::string("."), std::string(".."),
                                    std::string("sub/b.mp3"), std::string("b\0.mp3", 6)}) {
        std::string newPath = "unchanged";
        EXPECT_EQ(0, session.RenameByHand(folder, path, name, newPath)) << name;
        EXPECT_EQ("unchanged", newPath);
        EXPECT_TRUE(Exists(path));
    }
    std::string newPath;
    EXPECT_EQ(1, session.RenameByHand(folder, path, "b.mp3", newPath));
    EXPECT_EQ(dir / "b.mp3", newPath);
    EXPECT_TRUE(Exists(newPath) && !Exists(path));
}

TEST(MoveNoReplace, NeverReplacesAndOwnPathIsNoMove)
{
    TempDir dir;
    WriteBytes(dir / "a", "A");
    EXPECT_EQ(1, MoveNoReplace(dir / "a", dir / "a"));
    EXPECT_EQ(1, MoveNoReplace(dir / "a", dir.Path() + "//a"));
    EXPECT_EQ("A", ReadBytes(dir / "a"));
    EXPECT_EQ(0, MoveNoReplace(dir / "missing", dir / "missing"));
    EXPECT_EQ(0, MoveNoReplace(dir / "missing", dir / "c"));
    EXPECT_EQ(ENOENT, errno);

    // A second hard link of the same file is another name, not the same entry.
    ASSERT_EQ(0, link((dir / "a").c_str(), (dir / "b").c_str()));
    EXPECT_EQ(0, MoveNoReplace(dir / "a", dir / "b"));
    EXPECT_EQ(EEXIST, errno);
    EXPECT_TRUE(Exists(dir / "a") && Exists(dir / "b"));
}

std::vector<std::string> g_warnings;

TEST(CheckMp3FileName, ShowsTheFirstBrokenRule)
{
    const std::string suffix = "Invalid file name!\r\nThe \".mp3\" suffix missed.";
    const std::string blank = "Invalid file name!\r\nThe first letter of the file name can not be blank.";
    const struct { std::string name, message; } cases[] = {
        {"song.txt", suffix}, {"", suffix}, {" .txt", suffix}, {".mp3", "Invalid file name! "},
        {".MP3", "Invalid file name! "}, {" a.mp3", blank}, {"A.MP3", ""}, {"x.Mp3", ""},
    };
    const WarningHandler previous =
        SetWarningHandler([](const std::string& text) { g_warnings.push_back(text); });
    for (const auto& c : cases) {
        g_warnings.clear();
        EXPECT_EQ(c.message.empty(), CheckMp3FileName(c.name)) << c.name;
        EXPECT_EQ(c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message},
                  g_warnings) << c.name;
    }
    SetWarningHandler(previous);
}

TEST(ProgramFile, NamesThisTestProgram)
{
    EXPECT_EQ("tavoly_core_tests", ProgramBaseName());
    EXPECT_EQ(ProgramDirectory() + ProgramBaseName(), ProgramFilePath());
}

} // namespace

namespace {

// A window stays open while folders come and go: a folder queued again after
// it moved (or after a new one took a gone one's number) is found where it
// is now, and a file of the old place is not looked for there.
TEST(RenameSession, AFolderThatMovedIsQueuedWhereItIsNow)
{
    TempDir dir, journal;
    CRenameSession session(journal / "state");
    ASSERT_EQ(0, mkdir((dir / "old").c_str(), 0700));
    const std::uint32_t before = session.FolderOf(MakeMp3(dir, "old/a.mp3", "Song"));
    session.Release();
    ASSERT_EQ(0, rename((dir / "old").c_str(), (dir / "new").c_str()));
    std::uint32_t now = session.FolderOf(dir / "new/a.mp3");
    EXPECT_NE(before, now);
    std::string newPath;
    EXPECT_EQ(1, session.RenameByHand(now, dir / "new/a.mp3", "b.mp3", newPath));
    EXPECT_EQ(dir / "new/b.mp3", newPath);
    std::uint32_t gone = before;
    EXPECT_EQ(0, session.RenameByHand(gone, dir / "old/b.mp3", "c.mp3", newPath));
    EXPECT_TRUE(Exists(dir / "new/b.mp3"));
}

} // namespace

namespace {

TEST(DecideUndo, MovesBackOnlyTheFileTheRenameMoved)
{
    using H = UndoHolds;
    using V = UndoVerdict;
    const struct { H atNew; int moveError; H atOld; bool twoNames; V verdict; } cases[] = {
        {H::TheFile, 0, H::Nothing, false, V::MovedBack},
        {H::TheFile, EEXIST, H::Another, false, V::OldNameTaken},
        {H::TheFile, EEXIST, H::TheFile, true, V::DropExtraName},   // cut off between link and unlink
        {H::TheFile, EACCES, H::Nothing, false, V::MoveFailed},
        {H::Nothing, -1, H::TheFile, false, V::AlreadyBack},        // undone from a shell
        {H::Another, -1, H::TheFile, false, V::AlreadyBack},
        {H::Another, -1, H::Nothing, false, V::Replaced},           // never moves the other file
        {H::Another, -1, H::Another, false, V::Replaced},
        {H::Nothing, -1, H::Nothing, false, V::Gone},
        {H::Nothing, -1, H::Another, false, V::Gone},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.verdict, DecideUndo(c.atNew, c.moveError, c.atOld, c.twoNames))
            << int(c.atNew) << " " << c.moveError << " " << int(c.atOld);
}

} // namespace
