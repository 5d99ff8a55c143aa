// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/AnsiCodePage.h"

#include "core/TextCodec.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <iconv.h>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Languages by code page, as Windows assigns them; Serbian and Chinese
// depend on more than the language and are decided in CodePageOfLocale.
const struct { const char* languages; int codePage; } kCodePages[] = {
    {"ru uk be bg mk sr kk ky tt mn tg ba", 1251},
    {"pl cs sk hu sl hr bs ro sq tk", 1250},
    {"el", 1253},
    {"tr az", 1254},
    {"he yi", 1255},
    {"ar fa ur ps sd ug", 1256},
    {"lt lv et", 1257},
    {"vi", 1258},
    {"th", 874},
    {"ja", 932},
    {"ko", 949},
};

std::atomic<int> g_codePage{0};   // 0: not chosen yet

std::string IconvName(int codePage)
{
    return "CP" + std::to_string(codePage);
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One iconv descriptor, closed with the object. Opened for each conversion
// rather than kept for the program's life, so conversions may run on several
// threads at once; opening is cheap once the C library has loaded the
// converter.
class Converter
{
public:
    Converter(const std::string& to, const std::string& from)
        : m_cd(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter()
    {
        if (IsOpen())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts from in onwards, appending to out. True at the end of the
    // input; false at a sequence it cannot convert (errno EILSEQ, or EINVAL
    // for one cut off by the end), with in and left at that sequence.
    bool Convert(const char*& in, std::size_t& left, std::string& out)
    {
        for (;;) {
            char buffer[256];
            char* inPtr = const_cast<char*>(in);
            char* outPtr = buffer;
            std::size_t room = sizeof buffer;
            const std::size_t rc = iconv(m_cd, &inPtr, &left, &outPtr, &room);
            const int error = errno;
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            in = inPtr;
            if (rc != static_cast<std::size_t>(-1))
                return true;
            if (error != E2BIG) {
                errno = error;
                return false;
            }
        }
    }

    // Writes out what the converter still holds (1255 and 1258 keep a letter
    // back until they know whether a combining mark follows) and resets it.
    void Flush(std::string& out)
    {
        char buffer[64];
        char* outPtr = buffer;
        std::size_t room = sizeof buffer;
        iconv(m_cd, nullptr, nullptr, &outPtr, &room);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    }

private:
    iconv_t m_cd;
};

// True when the byte alone is the start of a longer character: a lead byte.
bool IsLeadByte(Converter& decoder, char byte)
{
    const char* in = &byte;
    std::size_t left = 1;
    std::string scratch;
    const bool converted = decoder.Convert(in, left, scratch);
    const int error = errno;
    decoder.Flush(scratch);
    return !converted && error == EINVAL;
}

} // namespace

int CodePageOfLocale(const std::string& localeName)
{
    // language[_territory][.codeset][@modifier]
    const std::string::size_type languageEnd = localeName.find_first_of("_.@");
    const std::string language = Lower(localeName.substr(0, languageEnd));
    std::string territory;
    if (languageEnd != std::string::npos && localeName[languageEnd] == '_') {
        const std::string::size_type end = localeName.find_first_of(".@", languageEnd);
        territory = Lower(localeName.substr(languageEnd + 1, end == std::string::npos
                                                                 ? std::string::npos
                                                                 : end - languageEnd - 1));
    }
    const std::string::size_type at = localeName.find('@');
    const std::string modifier = at == std::string::npos ? "" : Lower(localeName.substr(at + 1));

    if (language.empty())
        return 1252;
    if (language == "sr" && modifier == "latin")
        return 1250;
    if (language == "zh") {
        if (territory == "tw" || territory == "hk" || territory == "mo")
            return 950;
        if (territory.empty() || territory == "cn" || territory == "sg")
            return 936;
        return 1252;
    }
    for (const auto& row : kCodePages) {
        if ((" " + std::string(row.languages) + " ").find(" " + language + " ") != std::string::npos)
            return row.codePage;
    }
    return 1252;
}

int AnsiCodePage()
{
    int codePage = g_codePage.load();
    if (codePage != 0)
        return codePage;
    std::string name;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            name = value;
            break;
        }
    }
    codePage = CodePageOfLocale(name);
    g_codePage.store(codePage);
    return codePage;
}

void ChooseAnsiCodePageAgain()
{
    g_codePage.store(0);
}

std::string AnsiToUtf8(const std::string& bytes)
{
    const int codePage = AnsiCodePage();
    std::string out;
    Converter decoder("UTF-8", IconvName(codePage));
    if (!decoder.IsOpen()) {
        // A C library without the converter: each byte as the character of
        // the same value, which is at least valid text.
        for (unsigned char b : bytes)
            AppendUtf8(out, b);
        return out;
    }
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const char* in = bytes.data() + i;
        std::size_t left = n - i;
        const bool done = decoder.Convert(in, left, out);
        decoder.Flush(out);
        if (done)
            break;
        i = n - left;
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (IsLeadByte(decoder, bytes[i])) {
            // The trail byte goes with its lead, a 0x5C or 0x2F too, so it can
            // never show up as a separator of its own.
            if (i + 1 == n || bytes[i + 1] == '\0') {
                ++i;
                continue;
            }
            AppendUtf8(out, kReplacement);
            i += 2;
        } else {
            AppendUtf8(out, codePage == 1252 && b >= 0x80 && b <= 0x9F ? char32_t(b) : kReplacement);
            ++i;
        }
    }
    return out;
}

bool CodePointsToAnsi(const std::u32string& codePoints, std::vector<std::string>& perChar)
{
    perChar.clear();
    const int codePage = AnsiCodePage();
    Converter encoder(IconvName(codePage), "UTF-8");
    if (!encoder.IsOpen())
        return false;
    for (char32_t c : codePoints) {
        std::string utf8, bytes;
        AppendUtf8(utf8, c);
        const char* in = utf8.data();
        std::size_t left = utf8.size();
        const bool converted = encoder.Convert(in, left, bytes);
        encoder.Flush(bytes);
        if (!converted) {
            // The five bytes 1252 leaves undefined read as the C1 controls of
            // the same value, so those controls are written back as them.
            const std::string byte(1, static_cast<char>(c));
            if (codePage == 1252 && c >= 0x80 && c <= 0x9F && AnsiToUtf8(byte) == utf8)
                bytes = byte;
            else
                return false;
        }
        if (bytes.empty())
            return false;
        perChar.push_back(bytes);
    }
    return true;
}
