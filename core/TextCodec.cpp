// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TextCodec.h"

#include "core/AnsiCodePage.h"

#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One step of a UTF-8 walk. length > 0: a well-formed sequence of that many
// bytes. length == 0: ill-formed; bad bytes is the maximal part to replace,
// and truncated says those bytes are a good start cut off by the end.
struct Utf8Step
{
    int length = 0;
    char32_t codePoint = 0;
    int badBytes = 0;
    bool truncated = false;
};

Utf8Step NextUtf8(const unsigned char* s, std::size_t n, std::size_t i)
{
    Utf8Step step;
    const unsigned char b0 = s[i];
    if (b0 < 0x80) {
        step.length = 1;
        step.codePoint = b0;
        return step;
    }
    int need = 0;
    unsigned char lo = 0x80, hi = 0xBF;   // allowed range of the second byte
    char32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1; cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2; cp = b0 & 0x0Fu;
        if (b0 == 0xE0) lo = 0xA0;        // overlong
        if (b0 == 0xED) hi = 0x9F;        // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3; cp = b0 & 0x07u;
        if (b0 == 0xF0) lo = 0x90;        // overlong
        if (b0 == 0xF4) hi = 0x8F;        // above U+10FFFF
    } else {
        step.badBytes = 1;
        return step;
    }
    for (int k = 1; k <= need; ++k) {
        if (i + k >= n) {
            step.badBytes = k;
            step.truncated = true;
            return step;
        }
        const unsigned char b = s[i + k];
        const unsigned char kLo = (k == 1) ? lo : 0x80;
        const unsigned char kHi = (k == 1) ? hi : 0xBF;
        if (b < kLo || b > kHi) {
            step.badBytes = k;
            return step;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    step.length = need + 1;
    step.codePoint = cp;
    return step;
}

const unsigned char* Bytes(std::string_view s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

} // namespace

bool IsValidUtf8(std::string_view bytes)
{
    const unsigned char* s = Bytes(bytes);
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        if (s[i] < 0x80) {   // most names are ASCII
            ++i;
            continue;
        }
        const Utf8Step step = NextUtf8(s, n, i);
        if (step.length == 0)
            return false;
        i += step.length;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char32_t NextCodePoint(std::string_view text, std::size_t& i)
{
    const Utf8Step step = NextUtf8(Bytes(text), text.size(), i);
    if (step.length > 0) {
        i += static_cast<std::size_t>(step.length);
        return step.codePoint;
    }
    i += static_cast<std::size_t>(step.badBytes);
    return kReplacement;
}

std::u32string Utf8ToCodePoints(const std::string& bytes)
{
    std::u32string out;
    const unsigned char* s = Bytes(bytes);
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        const Utf8Step step = NextUtf8(s, n, i);
        if (step.length > 0) {
            out += step.codePoint;
            i += step.length;
        } else {
            out += kReplacement;
            i += step.badBytes;
        }
    }
    return out;
}

bool TagFieldIsUtf8(std::string_view bytes, std::size_t& length)
{
    const unsigned char* s = Bytes(bytes);
    const std::size_t n = bytes.size();
    bool sawMultiByte = false;
    for (std::size_t i = 0; i < n;) {
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        const Utf8Step step = NextUtf8(s, n, i);
        if (step.length == 0) {
            length = i;
            return step.truncated && sawMultiByte;
        }
        if (step.length > 1)
            sawMultiByte = true;
        i += step.length;
    }
    length = n;
    return true;
}

std::string DecodeTagField(const std::string& bytes)
{
    std::size_t length = 0;
    if (!TagFieldIsUtf8(bytes, length))
        return AnsiToUtf8(bytes);
    return length == bytes.size() ? bytes : bytes.substr(0, length);
}

std::string DisplayableUtf8(const std::string& bytes)
{
    if (IsValidUtf8(bytes))
        return bytes;
    // Part by part, so a UTF-8 folder keeps its name above an old file's.
    std::string out;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type slash = bytes.find('/', start);
        const std::string part =
            bytes.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        out += IsValidUtf8(part) ? part : AnsiToUtf8(part);
        if (slash == std::string::npos)
            return out;
        out += '/';
        start = slash + 1;
    }
}

std::string CutUtf8(const std::string& utf8, std::size_t maxBytes)
{
    if (utf8.size() <= maxBytes)
        return utf8;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
        --end;
    return utf8.substr(0, end);
}

std::string EncodeTagText(const std::string& typed, std::size_t maxBytes)
{
    const std::u32string chars = Utf8ToCodePoints(typed);
    std::string text;
    for (char32_t c : chars)
        AppendUtf8(text, c);
    std::vector<std::string> perChar;
    if (CodePointsToAnsi(chars, perChar)) {
        std::string stored, storedText;
        for (std::size_t i = 0; i < chars.size(); ++i) {
            if (stored.size() + perChar[i].size() > maxBytes)
                break;
            stored += perChar[i];
            AppendUtf8(storedText, chars[i]);
        }
        // The code page may not keep the text: "Ã©" is C3 A9 in 1252,
        // which reads back as UTF-8 "é"; 1255 and 1258 read a letter and a
        // mark typed apart as one character.
        if (DecodeTagField(stored) == storedText)
            return stored;
    }
    return CutUtf8(text, maxBytes);
}
