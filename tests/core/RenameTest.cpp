// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TagFile.h"
#include "core/Warning.h"
#include "platform/FileSystem.h"
#include "../ScopedLocale.h"
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
        {std::string(30, ' '), "", false, " .mp3"},
        {"Caf\xE9", "AC/DC", true, "ACDC - Caf\xC3\xA9.mp3"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = MakeMp3(dir, "track01.MP3", c.title, c.artist);
        const std::string content = ReadBytes(path);
        std::string newName, newPath;
        EXPECT_EQ(kStateSuccessful, AutoRenameFile(path, c.artistFirst, newName, newPath));
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
    MakeMp3(dir, "a.mp3", "Yesterday");
    WriteBytes(dir / "Yesterday.mp3", "other file");
    const struct { const char* name; const char* state; } cases[] = {
        {"notag.mp3", kStateSongNotFound}, {"tiny.mp3", kStateUnwritable},
        {"zeros.mp3", kStateSongNotFound}, {"punct.mp3", kStateSongNotFound},
        {"missing.mp3", kStateUnwritable}, {"a.mp3", kStateRenameFailed},
    };
    for (const auto& c : cases) {
        const std::string before = ReadBytes(dir / c.name);
        std::string newName = "n", newPath = "p";
        EXPECT_EQ(c.state, AutoRenameFile(dir / c.name, true, newName, newPath)) << c.name;
        EXPECT_EQ("n" + std::string("p"), newName + newPath);
        EXPECT_EQ(before, ReadBytes(dir / c.name));
    }
    EXPECT_EQ("other file", ReadBytes(dir / "Yesterday.mp3"));
}

TEST(AutoRename, AlreadyNamedOrNameWithBackslash)
{
    TempDir dir;
    std::string newName, newPath, title, artist;
    const std::string named = MakeMp3(dir, "Yesterday.mp3", "Yesterday");
    EXPECT_EQ(kStateSuccessful, AutoRenameFile(named, false, newName, newPath, title, artist));
    EXPECT_EQ(named, newPath);
    EXPECT_EQ("Yesterday", title);

    // A backslash is part of the name here, not a folder: the file stays in dir.
    ASSERT_EQ(0, mkdir((dir / "a").c_str(), 0700));
    EXPECT_EQ(kStateSuccessful, AutoRenameFile(MakeMp3(dir, "a\\b.mp3", "Song"), false,
                                               newName, newPath));
    EXPECT_EQ(dir / "Song.mp3", newPath);
    EXPECT_TRUE(Exists(newPath));
}

TEST(RenameInFolder, RefusesNamesThatLeaveTheFolder)
{
    TempDir dir;
    const std::string path = MakeMp3(dir, "a.mp3", "T");
    ASSERT_EQ(0, mkdir((dir / "sub").c_str(), 0700));
    for (const std::string& name : {std::string(), std::string("."), std::string(".."),
                                    std::string("sub/b.mp3"), std::string("b\0.mp3", 6)}) {
        std::string newPath = "unchanged";
        EXPECT_EQ(0, RenameInFolder(path, name, newPath)) << name;
        EXPECT_EQ("unchanged", newPath);
        EXPECT_TRUE(Exists(path));
    }
    std::string newPath;
    EXPECT_EQ(1, RenameInFolder(path, "b.mp3", newPath));
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
