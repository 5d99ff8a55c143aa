// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TagFile.h"
#include "TestFiles.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

struct TagOut
{
    std::string title = "x", artist = "x", album = "x", year = "x", comment = "x", track = "x";
    int genre = 42;
};

int Read(CTagFile& tf, const std::string& path, TagOut& o)
{
    return tf.ReadTag(path, "MP3", o.title, o.artist, o.album, o.year, o.comment, o.track, o.genre);
}

int Write(CTagFile& tf, const std::string& path, const std::string& title,
          const std::string& comment = "", const std::string& track = "", int genre = -1)
{
    return tf.WriteTag(path, "MP3", title, "Artist", "Album", "19999", comment, track, genre);
}

TEST(TagFile, ShortFilesAreUnreadableAndUnwritable)
{
    TempDir dir;
    CTagFile tf;
    const std::string shortFile = dir / "short.mp3", exact = dir / "exact.mp3";
    WriteBytes(shortFile, Record("Title").substr(0, 127));
    WriteBytes(exact, Record("Title"));
    TagOut out;
    EXPECT_EQ(-1, Read(tf, shortFile, out));
    EXPECT_EQ("x", out.title);
    EXPECT_EQ(42, out.genre);
    EXPECT_EQ(0, Write(tf, shortFile, "New"));
    EXPECT_EQ(127u, ReadBytes(shortFile).size());

    EXPECT_EQ(1, Read(tf, exact, out));
    EXPECT_EQ(Padded("Title"), out.title);
}

TEST(TagFile, NoTagClearsOutputs)
{
    TempDir dir;
    CTagFile tf;
    std::string lowerCase = Record("Title");
    lowerCase.replace(0, 3, "tag");
    WriteBytes(dir / "plain.mp3", Audio(1000));
    WriteBytes(dir / "lower.mp3", Audio(500) + lowerCase);
    for (const char* name : {"plain.mp3", "lower.mp3"}) {
        TagOut out;
        EXPECT_EQ(-2, Read(tf, dir / name, out)) << name;
        EXPECT_EQ("", out.title + out.artist + out.album + out.year + out.comment + out.track);
        EXPECT_EQ(-1, out.genre);
    }
}

TEST(TagFile, ReadKeepsWholeFieldsAndFindsTrack)
{
    TempDir dir;
    CTagFile tf;
    const std::string path = dir / "a.mp3", full(30, 'C');
    const std::string title = std::string("Song\0Old", 8) + std::string(22, ' ');
    WriteBytes(path, Audio(300) + Record(title, "Artist", full, 200));
    TagOut out;
    ASSERT_EQ(1, Read(tf, path, out));
    EXPECT_EQ(title, out.title);
    EXPECT_EQ(Padded("Album"), out.album);
    EXPECT_EQ("1999", out.year);
    EXPECT_EQ(full, out.comment);   // no zero at byte 28: no track
    EXPECT_EQ("", out.track);
    EXPECT_EQ(200, out.genre);

    std::string withTrack = Padded("abc");
    withTrack[29] = 7;
    WriteBytes(path, Audio(300) + Record("T", "", withTrack, 17));
    ASSERT_EQ(1, Read(tf, path, out));
    EXPECT_EQ(Padded("abc", 28), out.comment);
    EXPECT_EQ("\x07", out.track);
}

TEST(TagFile, AppendThenReplace)
{
    TempDir dir;
    CTagFile tf;
    const std::string path = dir / "a.mp3", audio = Audio(1000);
    WriteBytes(path, audio);
    const std::string head = Padded("Artist") + Padded("Album") + "1999";

    ASSERT_EQ(1, Write(tf, path, std::string(40, 'T'), "abc", "\x07"));
    std::string bytes = ReadBytes(path);
    ASSERT_EQ(1128u, bytes.size());
    EXPECT_EQ(audio, bytes.substr(0, 1000));
    EXPECT_EQ("TAG" + std::string(30, 'T') + head + Padded("abc", 28) + std::string("\0\x07\xFF", 3),
              bytes.substr(1000));

    ASSERT_EQ(1, Write(tf, path, "Short", std::string(35, 'c'), "", 147));
    bytes = ReadBytes(path);
    ASSERT_EQ(1128u, bytes.size());
    EXPECT_EQ(audio, bytes.substr(0, 1000));
    EXPECT_EQ("TAG" + Padded("Short") + head + std::string(30, 'c') + "\x93", bytes.substr(1000));
}

TEST(TagFile, FailedAppendLeavesFileAsItWas)
{
    TempDir dir;
    CTagFile tf;
    const std::string path = dir / "a.mp3", audio = Audio(1000);
    WriteBytes(path, audio);
    // Only half the record fits under the file-size limit; the rest fails with EFBIG.
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old, lowered;
    getrlimit(RLIMIT_FSIZE, &old);
    lowered = old;
    lowered.rlim_cur = 1000 + 64;
    setrlimit(RLIMIT_FSIZE, &lowered);
    const int result = Write(tf, path, "Title");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(0, result);
    EXPECT_EQ(audio, ReadBytes(path));
}

TEST(TagFile, RefusesBadArgumentsAndWhatIsNotARegularFile)
{
    TempDir dir;
    CTagFile tf;
    const std::string good = dir / "a.mp3", fifo = dir / "fifo.mp3", folder = dir / "folder.mp3";
    WriteBytes(good, Audio(200) + Record("Title"));
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    for (const std::string& path : {fifo, folder, dir / "missing.mp3", good + std::string("\0x", 2)}) {
        TagOut out;
        EXPECT_EQ(-1, Read(tf, path, out)) << path;
        EXPECT_EQ(0, Write(tf, path, "T"));
        std::string title = "keep", artist;
        EXPECT_EQ(kStateUnreadable, tf.ReadSongName(path, title, artist, "MP3"));
        EXPECT_EQ("keep", title);
    }
    TagOut out;
    EXPECT_EQ(0, tf.ReadTag(good, "", out.title, out.artist, out.album, out.year, out.comment,
                            out.track, out.genre));
    EXPECT_EQ(0, tf.WriteTag(good, "", "T", "", "", "", "", "", 0));
    std::string title = "keep", artist;
    EXPECT_EQ(kStateSongNotFound, tf.ReadSongName(good, title, artist, "mp3"));
    EXPECT_EQ("keep", title);
}

TEST(TagFile, GenreNames)
{
    const struct { int byte; const char* name; } cases[] = {
        {0, "Blues"}, {17, "Rock"}, {67, "Psychadelic"}, {118, "Rhytmic Soul"},
        {128, "Club-House"}, {147, "SynthPop"}, {148, nullptr}, {255, nullptr}, {-1, nullptr},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.name, GenreName(c.byte)) << c.byte;
}

} // namespace
