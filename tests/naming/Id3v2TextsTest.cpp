// SPDX-License-Identifier: GPL-3.0-or-later
// ID3v2 texts as the documents of 2.2, 2.3 and 2.4 define them, from tags
// built byte by byte.
#include "Id3v2Bytes.h"
#include "core/TestFiles.h"
#include "naming/Id3v2Texts.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned kAllFields = kFieldTitle | kFieldArtist | kFieldAlbum | kFieldYear | kFieldTrack | kFieldGenre;

SongFields Read(const std::string& bytes)
{
    TempDir dir;
    WriteBytes(dir / "a.mp3", bytes);
    SongFields texts;
    const int fd = open((dir / "a.mp3").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(ReadId3v2Texts(fd, static_cast<long long>(bytes.size()), kAllFields, texts), 1);
    close(fd);
    return texts;
}

std::string Utf8(const std::string& text)
{
    return '\x03' + text;
}

std::string Genre(int version, const std::string& text)
{
    return Id3v2(version, Frame(version, "TIT2", Latin1("T")) + Frame(version, "TCON", Latin1(text)));
}

} // namespace

TEST(Id3v2Texts, ReadAsTheDocumentsSay)
{
    const std::string title = Frame(3, "TIT2", Latin1("Title"));
    const std::string artist = Frame(3, "TPE1", Latin1("Artist"));
    const std::string title4 = Frame(4, "TIT2", Latin1("Title"));
    const std::string artist4 = Frame(4, "TPE1", Latin1("Artist"));
    std::string footed = Id3v2(4, Frame(4, "TPE1", Latin1("Artist")) + Frame(4, "TIT2", Latin1("Intro")), '\x10');
    footed += "3DI" + footed.substr(3, 7);
    struct Row
    {
        const char* what;
        std::string tag;
        std::vector<std::string> expected;   // title, artist, album, year, track, genre; the rest empty
    };
    const Row rows[] = {
        {"empty frames first", Id3v2(3, Frame(3, "TENC", "") + Frame(3, "TCOP", "") + title + artist),
         {"Title", "Artist"}},
        {"an empty frame between", Id3v2(4, title4 + Frame(4, "TCOM", "") + artist4), {"Title", "Artist"}},
        {"2.3 grouped", Id3v2(3, Frame(3, "TIT2", "G" + Latin1("Grouped 23"), '\x20') + artist),
         {"Grouped 23", "Artist"}},
        {"2.4 grouped", Id3v2(4, title4 + Frame(4, "TPE1", "G" + Latin1("Grouped 24"), '\x40')),
         {"Title", "Grouped 24"}},
        {"unknown encoding", Id3v2(3, Frame(3, "TIT2", "Grouped 23") + artist), {"", "Artist"}},
        {"footer, short last frame", footed, {"Intro", "Artist"}},
        {"the first of several values",
         Id3v2(4, Frame(4, "TPE1", Utf8(std::string("\xC3\x84rtist A\0Artist B", 18)))
                      + Frame(4, "TALB", Utf16(std::u16string(u"One\0Two", 7)))),
         {"", "\xC3\x84rtist A", "One"}},
        {"TYER in 2.4, track of a count", Id3v2(4, Frame(4, "TYER", Latin1("1999")) + Frame(4, "TRCK", Latin1("3/12"))),
         {"", "", "", "1999", "03"}},
        {"TDRC before TYER", Id3v2(4, Frame(4, "TYER", Latin1("1999")) + Frame(4, "TDRC", Latin1("2001-05-03"))),
         {"", "", "", "2001"}},
        {"2.2", Id3v2(2, Frame(2, "TT2", Latin1("Old")) + Frame(2, "TYE", Latin1("1997")) + Frame(2, "TCO", Latin1("(9)"))),
         {"Old", "", "", "1997", "", "Metal"}},
        {"2.3 with 2.2's ids (iTunes)", Id3v2(3, Frame(3, std::string("TT2\0", 4), Latin1("Short Id"))), {"Short Id"}},
        {"2.3 compressed", Id3v2(3, Frame(3, "TIT2", std::string("\0\0\0\x09", 4) + Deflated(Latin1("Squeezed")), '\x80')),
         {"Squeezed"}},
        {"2.4 compressed, unsynchronised",
         Id3v2(4, Frame(4, "TIT2", Unsynchronised(SyncSafe(9) + Deflated(Latin1("Squeezed"))), '\x0B')),
         {"Squeezed"}},
        {"inflating past 1 MiB", Id3v2(4, Frame(4, "TIT2", SyncSafe(2 << 20) + ZeroBomb(2), '\x09') + artist4),
         {"", "Artist"}},
        {"encrypted", Id3v2(4, Frame(4, "TIT2", "\x80" + Latin1("Secret"), '\x04') + artist4), {"", "Artist"}},
        {"chapters passed", Id3v2(4, NestedChapters(3, title4) + artist4), {"", "Artist"}},
        {"((", Genre(3, "((Foo) Bar"), {"T", "", "", "", "", "(Foo) Bar"}},
        {"(RX)", Genre(3, "(RX)"), {"T", "", "", "", "", "Remix"}},
        {"CR", Genre(4, "CR"), {"T", "", "", "", "", "Cover"}},
        {"refined", Genre(3, "(4)Eurodisco"), {"T", "", "", "", "", "Disco"}},
        {"refinement alone", Genre(3, "Eurodisco"), {"T", "", "", "", "", "Eurodisco"}},
        {"refinement after a reference", Genre(3, "(55)((I think...)"), {"T", "", "", "", "", "Dream"}},
        {"unknown number passed", Genre(3, "(200)(17)"), {"T", "", "", "", "", "Rock"}},
        {"past the window's list", Genre(4, "191"), {"T", "", "", "", "", "Psybient"}},
        {"(148)", Genre(3, "(148)"), {"T", "", "", "", "", "Abstract"}},
        {"2.4 values", Genre(4, std::string("21\0Eurodisco", 12)), {"T", "", "", "", "", "Ska"}},
        {"text in parentheses", Genre(4, "(Live) Rock"), {"T", "", "", "", "", "(Live) Rock"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const SongFields texts = Read(row.tag + Audio(200));
        std::vector<std::string> expected = row.expected;
        expected.resize(6);
        EXPECT_EQ((std::vector<std::string>{texts.title, texts.artist, texts.album, texts.year, texts.track, texts.genre}),
                  expected);
    }
}
