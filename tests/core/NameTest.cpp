// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TagFile.h"
#include "core/TextCodec.h"
#include "../ScopedLocale.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

struct CleanCase
{
    std::string field;   // raw bytes of a 30-byte field (padded below when shorter)
    std::string cleaned;
};

TEST(CleanName, FiltersFieldBytes)
{
    ScopedLocale locale("C");
    const CleanCase cases[] = {
        {"Hello,  World! (Live)", "Hello World Live"},
        {"AC/DC", "ACDC"},
        {"A  -  B", "A - B"},
        {"a , b", "a  b"},
        {"Hey (Jude)", "Hey Jude"},
        {"Song" + std::string(26, ' '), "Song "},
        {std::string(30, ' '), " "},
        {"Song\0Old"s, "SongOld"},
        {"A \0 B"s, "A  B"},                  // blanks around a dropped zero both stay
        {"under_score-dash.txt\\x:y*?\"<>|", "under_score-dashtxtxy"},
        {"..", ""},
        {"\t\r\n\x7F", ""},
        // UTF-8 text stays whole.
        {"Mot\xC3\xB6rhead \xE6\x97\xA5\xE6\x9C\xAC", "Mot\xC3\xB6rhead \xE6\x97\xA5\xE6\x9C\xAC"},
        {"\xEF\xBC\x8F\xE2\x88\x95", "\xEF\xBC\x8F\xE2\x88\x95"},   // slash look-alikes are no separators
        // Invisible and control characters go.
        {"\xEF\xBB\xBFSong", "Song"},
        {"A\xE2\x80\x8B" "B\xC2\x85" "C\xE2\x80\xAE" "D", "ABCD"},
        // A UTF-8 text cut at the field's end loses the broken tail only.
        {std::string(26, 'x') + "\xC3\xA9\xE2\x82", std::string(26, 'x') + "\xC3\xA9"},
        // Windows-1252, including an undefined byte and a lone lead byte at the end.
        {"Caf\xE9", "Caf\xC3\xA9"},
        {"Beyonc\xE9 \x96 Halo", "Beyonc\xC3\xA9 \xE2\x80\x93 Halo"},
        {"A\x81" "B\x9D", "AB"},
        {std::string(29, 'x') + "\xC3", std::string(29, 'x') + "\xC3\x83"},
        {"\x83\x5C", "\xC6\x92"},           // the backslash after a high byte is still dropped
        {"Caf\xE9 \xC3\xA9", "Caf\xC3\xA9 \xC3\x83\xC2\xA9"},   // not UTF-8 as a whole
    };
    CTagFile tf;
    for (const CleanCase& c : cases) {
        std::string target = "old";
        EXPECT_EQ(1, tf.CleanName(Padded(c.field), target));
        EXPECT_EQ(c.cleaned, target) << c.field;
    }
}

TEST(CleanName, EmptySourceLeavesTarget)
{
    CTagFile tf;
    std::string target = "old";
    EXPECT_EQ(0, tf.CleanName("", target));
    EXPECT_EQ("old", target);
    EXPECT_EQ(1, tf.CleanName("a  ", target));   // unpadded: the run at the end leaves one blank
    EXPECT_EQ("a ", target);
}

TEST(ComposeTargetName, ArtistOnlyWhenAskedAndPresent)
{
    EXPECT_EQ("Beatles - Yesterday.mp3", ComposeTargetName("Yesterday", "Beatles", true));
    EXPECT_EQ("Yesterday.mp3", ComposeTargetName("Yesterday", "Beatles", false));
    EXPECT_EQ("Yesterday.mp3", ComposeTargetName("Yesterday", "", true));
    EXPECT_EQ("Yesterday.mp3", ComposeTargetName("Yesterday", "", false));
}

TEST(TextCodec, DecodeTagField)
{
    ScopedLocale locale("C");
    const struct { std::string bytes, text; } cases[] = {
        {"plain\0\0"s, "plain\0\0"s},
        {"K\xC3\xB6ln", "K\xC3\xB6ln"},
        {"Caf\xE9\0\0"s, "Caf\xC3\xA9\0\0"s},
        {"\x80\x81", "\xE2\x82\xAC\xC2\x81"},
        {"\xC3\xB6\xF0\x9F\x8E", "\xC3\xB6"},          // cut 4-byte sequence dropped
        {"abc\xE2\x82", "abc\xC3\xA2\xE2\x80\x9A"},       // no whole multi-byte before: cp1252
        {"\xC3\xB6\xE2\x82\0"s, "\xC3\x83\xC2\xB6\xC3\xA2\xE2\x80\x9A\0"s},   // not at the end
        {"\xC0\xAF", "\xC3\x80\xC2\xAF"},               // overlong: not UTF-8
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},   // surrogate: not UTF-8
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, DecodeTagField(c.bytes)) << c.bytes;
}

TEST(TextCodec, EncodeTagText)
{
    ScopedLocale locale("C");
    const struct { std::string text; std::size_t limit; std::string stored; } cases[] = {
        {"Caf\xC3\xA9", 30, "Caf\xE9"},
        {"\xE2\x82\xAC 5", 30, "\x80 5"},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 7, "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"Caf\xC3\xA9 \xE6\x97\xA5", 30, "Caf\xC3\xA9 \xE6\x97\xA5"},
        {"Caf\xC3\xA9 1234", 5, "Caf\xE9 "},
        {"\xC3\x83\xC2\xA9", 30, "\xC3\x83\xC2\xA9"},   // as cp1252 it would read back as UTF-8
        {"abcdef", 4, "abcd"},
    };
    for (const auto& c : cases) {
        const std::string stored = EncodeTagText(c.text, c.limit);
        EXPECT_EQ(c.stored, stored) << c.text;
        const std::string readBack = DecodeTagField(stored);
        EXPECT_EQ(c.text.substr(0, readBack.size()), readBack);
    }
}

} // namespace
