// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TagFile.h"

#include "core/TextCodec.h"

#include <climits>

namespace {

bool IsAsciiNameChar(char32_t c)
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

std::string Filtered(const std::u32string& chars)
{
    std::string out;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        const char32_t c = chars[i];
        if (IsAsciiNameChar(c)) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            // Only the last blank of a run stays. The next character counts even
            // when it is dropped (a zero byte too), so blanks around it both stay.
            if (i + 1 == chars.size() || chars[i + 1] != ' ')
                out += ' ';
        } else if (IsVisibleNonAscii(c)) {
            AppendUtf8(out, c);
        }
    }
    return out;
}

} // namespace

int CTagFile::CleanName(const std::string& source, std::string& target)
{
    if (source.empty())
        return 0;
    target = Filtered(Utf8ToCodePoints(DecodeTagField(source)));
    return 1;
}

std::string CleanUtf8Name(const std::string& utf8)
{
    return Filtered(Utf8ToCodePoints(utf8));
}

std::string ComposeTargetName(const std::string& title, const std::string& artist,
                              bool artistFirst)
{
    if (artistFirst && !artist.empty())
        return artist + " - " + title + ".mp3";
    return title + ".mp3";
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
