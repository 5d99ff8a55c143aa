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
    // The zero bytes that pad a field name nothing, and after a last
    // character that is ASCII they decide nothing either (after another byte
    // they tell a cut UTF-8 field from one in the code page): where they end
    // it, the end does.
    std::size_t padded = source.size();
    while (padded > 0 && source[padded - 1] == '\0')
        --padded;
    if (padded < source.size() && (padded == 0 || static_cast<unsigned char>(source[padded - 1]) < 0x80))
        source = source.substr(0, padded);
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

bool IsBlankCodePoint(char32_t c)
{
    return c == ' ' || c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F
           || c == 0x205F || c == 0x3000;
}

std::string_view TrimBlanks(std::string_view utf8)
{
    std::size_t begin = utf8.size(), end = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        // ASCII first: most texts are, and their ends are seen at once.
        const char32_t c = static_cast<unsigned char>(utf8[i]) < 0x80 ? static_cast<unsigned char>(utf8[i++])
                                                                       : NextCodePoint(utf8, i);
        if (!IsBlankCodePoint(c)) {
            if (begin == utf8.size())
                begin = start;
            end = i;
        }
    }
    return begin < end ? utf8.substr(begin, end - begin) : std::string_view();
}

void TrimBlanksInPlace(std::string& utf8)
{
    const std::string_view kept = TrimBlanks(utf8);
    const std::size_t begin = kept.empty() ? 0 : static_cast<std::size_t>(kept.data() - utf8.data());
    utf8.erase(begin + kept.size()).erase(0, begin);
}

namespace {

// Marks that belong to the character before them: a cut between the two
// would leave a letter without its accent.
bool IsCombiningMark(char32_t c)
{
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF)
           || (c >= 0x20D0 && c <= 0x20FF) || (c >= 0x3099 && c <= 0x309A) || (c >= 0xFE00 && c <= 0xFE0F)
           || (c >= 0xFE20 && c <= 0xFE2F) || (c >= 0xE0100 && c <= 0xE01EF);
}

bool IsContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Back from i to the first byte of the character i is in.
std::size_t CharacterStart(const std::string& text, std::size_t i)
{
    for (int k = 0; k < 3 && i > 0 && IsContinuationByte(text[i]); ++k)
        --i;
    return i;
}

} // namespace

void FitFileName(std::string& name)
{
    static const char kSuffix[] = ".mp3";
    constexpr std::size_t kSuffixLength = sizeof kSuffix - 1;
    if (name.size() <= NAME_MAX)
        return;
    std::size_t cut = CharacterStart(name, NAME_MAX - kSuffixLength);
    // A mark at the cut goes with the letter it belongs to. A name of marks
    // only keeps what fits.
    std::size_t base = cut;
    for (;;) {
        std::size_t next = base;
        if (base == 0 || !IsCombiningMark(NextCodePoint(name, next)))
            break;
        base = CharacterStart(name, base - 1);
    }
    if (base > 0)
        cut = base;
    name.resize(cut);
    // Blanks the cut leaves at the end would stand before the ".mp3".
    const std::string_view kept = TrimBlanks(name);
    if (!kept.empty())
        name.resize(static_cast<std::size_t>(kept.data() - name.data()) + kept.size());
    name += kSuffix;
}
