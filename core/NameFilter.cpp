// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TagFile.h"

#include "core/AnsiCodePage.h"
#include "core/TextCodec.h"

#include <array>
#include <climits>

namespace {

constexpr bool IsAsciiNameChar(char32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
           || c == '-' || c == '_';
}

// Non-ASCII characters that show in a file name. C1 controls, invisible
// format characters, line and paragraph separators and noncharacters would
// make names that look alike but differ, so they go; so does U+FFFD, which
// stands for bytes the code page leaves undefined, as 1252's undefined bytes
// leave only C1 controls.
bool IsVisibleNonAscii(char32_t c)
{
    static const struct { char32_t first, last; } kDropped[] = {
        {0x0080, 0x009F}, {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C},
        {0x115F, 0x1160}, {0x17B4, 0x17B5}, {0x180B, 0x180F}, {0x200B, 0x200F},
        {0x2028, 0x202E}, {0x2060, 0x206F}, {0x3164, 0x3164}, {0xD800, 0xDFFF},
        {0xFDD0, 0xFDEF}, {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0}, {0xFFF9, 0xFFFB},
        {0xFFFD, 0xFFFD}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE007F},
    };
    if (c < 0x80 || c > 0x10FFFF || (c & 0xFFFE) == 0xFFFE)
        return false;
    for (const auto& range : kDropped) {
        if (c >= range.first && c <= range.last)
            return false;
    }
    return true;
}

// What the filter does with an ASCII byte: 0 drops it, 1 keeps it, 2 is a
// blank.
constexpr std::array<unsigned char, 128> kAsciiClass = [] {
    std::array<unsigned char, 128> table{};
    for (unsigned c = 0; c < 128; ++c)
        table[c] = IsAsciiNameChar(c) ? 1 : c == ' ' ? 2 : 0;
    return table;
}();

// Appends the characters of UTF-8 text that a name keeps, walking its bytes:
// an ill-formed part stands for one U+FFFD, which goes.
void AppendFiltered(std::string& out, std::string_view text)
{
    const std::size_t n = text.size();
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < n;) {
        // A stretch of plain characters goes in at once. Only the last blank
        // of a run stays; the next character counts even when it is dropped
        // (a zero byte too), so blanks around it both stay.
        std::size_t end = i;
        while (end < n && s[end] < 0x80
               && (kAsciiClass[s[end]] == 1 || (kAsciiClass[s[end]] == 2 && (end + 1 == n || s[end + 1] != ' '))))
            ++end;
        if (end > i) {
            out.append(text.data() + i, end - i);
            i = end;
            if (i == n)
                break;
        }
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        const char32_t c = NextCodePoint(text, i);
        if (IsVisibleNonAscii(c))
            out.append(text.data() + start, i - start);   // well-formed: its own bytes
    }
}

} // namespace

int CTagFile::CleanName(std::string_view source, std::string& target)
{
    if (source.empty())
        return 0;
    // Plain UTF-8 (ASCII above all) is filtered as it is, into target's room.
    std::size_t length = 0;
    const bool utf8 = TagFieldIsUtf8(source, length);
    const std::string decoded = utf8 ? std::string() : AnsiToUtf8(std::string(source));
    const std::string_view text = utf8 ? source.substr(0, length) : std::string_view(decoded);
    if (text.data() >= target.data() && text.data() < target.data() + target.size()) {
        target = CleanUtf8Name(text);   // source is target's own text
        return 1;
    }
    target.clear();
    AppendFiltered(target, text);
    return 1;
}

std::string CleanUtf8Name(std::string_view utf8)
{
    std::string out;
    AppendFiltered(out, utf8);
    return out;
}

void CleanUtf8NameInto(std::string_view utf8, std::string& target)
{
    target.clear();
    AppendFiltered(target, utf8);
}

std::string ComposeTargetName(const std::string& title, const std::string& artist,
                              bool artistFirst)
{
    std::string name;
    ComposeTargetNameInto(name, title, artist, artistFirst);
    return name;
}

void ComposeTargetNameInto(std::string& name, std::string_view title, std::string_view artist, bool artistFirst)
{
    static constexpr std::string_view kBetween = " - ", kSuffix = ".mp3";
    const bool withArtist = artistFirst && !artist.empty();
    name.clear();
    name.reserve(title.size() + kSuffix.size() + (withArtist ? artist.size() + kBetween.size() : 0));
    if (withArtist) {
        name += artist;
        name += kBetween;
    }
    name += title;
    name += kSuffix;
}

void FitFileName(std::string& name)
{
    static const char kSuffix[] = ".mp3";
    constexpr std::size_t kSuffixLength = sizeof kSuffix - 1;
    if (name.size() <= NAME_MAX)
        return;
    std::size_t cut = NAME_MAX - kSuffixLength;
    // Back to the first byte of the character the cut would split.
    for (int k = 0; k < 3 && cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80; ++k)
        --cut;
    name.resize(cut);
    name += kSuffix;
}
