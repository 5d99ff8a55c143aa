// SPDX-License-Identifier: GPL-3.0-or-later
// Tag texts in the code page of the locale named in the environment. The
// locales need not be installed: only their names are read.
#include "core/AnsiCodePage.h"
#include "core/TagFile.h"
#include "core/TextCodec.h"
#include "../ScopedLocale.h"
#include "RenameOne.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

TEST(AnsiCodePage, ChosenOnceFromTheFirstLocaleVariableSet)
{
    const struct { const char* locale; int codePage; } names[] = {
        {"ru_RU.UTF-8", 1251}, {"sr_RS", 1251}, {"sr_RS.UTF-8@latin", 1250}, {"pl_PL", 1250},
        {"el_GR.UTF-8", 1253}, {"tr_TR", 1254}, {"he_IL", 1255}, {"ar_EG", 1256},
        {"lt_LT", 1257}, {"vi_VN", 1258}, {"th_TH", 874}, {"ja_JP.eucJP", 932},
        {"zh_CN.GB18030", 936}, {"zh", 936}, {"zh_SG", 936}, {"zh_TW.Big5", 950},
        {"zh_HK", 950}, {"ko_KR.EUC-KR", 949}, {"en_US.UTF-8", 1252}, {"de", 1252},
        {"C", 1252}, {"POSIX", 1252}, {"C.UTF-8", 1252}, {"", 1252},
    };
    for (const auto& n : names)
        EXPECT_EQ(n.codePage, CodePageOfLocale(n.locale)) << n.locale;

    const struct { const char *lang, *lcCtype, *lcAll; int codePage; } environments[] = {
        {"ru_RU.UTF-8", nullptr, "en_US.UTF-8", 1252},   // LC_ALL wins over LANG
        {"en_US.UTF-8", "ja_JP.UTF-8", nullptr, 932},    // then LC_CTYPE
        {"ru_RU.UTF-8", "", "", 1251},                   // empty counts as unset
        {nullptr, nullptr, nullptr, 1252},
        {"ru_RU.UTF-8", nullptr, "C", 1252},
    };
    for (const auto& e : environments) {
        ScopedLocale locale(e.lang, e.lcCtype, e.lcAll);
        EXPECT_EQ(e.codePage, AnsiCodePage()) << (e.lang ? e.lang : "unset");
    }

    ScopedLocale russian("ru_RU.UTF-8");
    EXPECT_EQ(1251, AnsiCodePage());
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(1251, AnsiCodePage());
}

TEST(AutoRename, NamesFilesInTheScriptOfTheLocale)
{
    const std::string russian = "\xCF\xF0\xE8\xE2\xE5\xF2", kino = "\xCA\xE8\xED\xEE";
    const std::string utf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";   // Привет
    const struct { const char* lang; std::string title, artist, name; } cases[] = {
        {"ru_RU.UTF-8", russian, kino, "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE - " + utf8 + ".mp3"},
        {"en_US.UTF-8", russian, kino,
         "\xC3\x8A\xC3\xA8\xC3\xAD\xC3\xAE - \xC3\x8F\xC3\xB0\xC3\xA8\xC3\xA2\xC3\xA5\xC3\xB2.mp3"},
        // Trail bytes 0x5C are no backslashes.
        {"ja_JP.UTF-8", "\x95\x5C\x8E\xA6", "", "\xE8\xA1\xA8\xE7\xA4\xBA.mp3"},     // 表示
        {"zh_CN.UTF-8", "\xD6\xD0\xCE\xC4", "", "\xE4\xB8\xAD\xE6\x96\x87.mp3"},     // 中文
        {"zh_TW.UTF-8", "\xB3\x5C\xA5\x5C", "", "\xE8\xA8\xB1\xE5\x8A\x9F.mp3"},     // 許功
        // A lead byte that the field's end cut off from its trail is dropped.
        {"ja_JP.UTF-8", std::string(29, 'x') + "\x82", "", std::string(29, 'x') + ".mp3"},
        {"ko_KR.UTF-8", "A\x82 B", "", "AB.mp3"},   // lead and blank: an undefined pair
    };
    for (const auto& c : cases) {
        ScopedLocale locale(c.lang);
        TempDir dir;
        WriteBytes(dir / "track01.mp3", Audio(400) + Record(c.title, c.artist));
        std::string newName, newPath;
        EXPECT_EQ(kStateSuccessful, AutoRenameOne(dir / "track01.mp3", true, newName, newPath));
        EXPECT_EQ(c.name, newName) << c.lang;
        EXPECT_TRUE(Exists(dir / c.name)) << c.lang;
    }
    // UTF-8 is UTF-8 whatever the locale.
    for (const char* lang : {"ru_RU", "ja_JP", "zh_CN", "zh_TW", "ko_KR", "vi_VN", "el_GR", "C"}) {
        ScopedLocale locale(lang);
        std::string title, artist;
        TempDir dir;
        WriteBytes(dir / "a.mp3", Audio(400) + Record(utf8, std::string(28, 'x') + "\xD0\x9F"));
        EXPECT_EQ(kStateSuccessful, TheTagFile().ReadSongName(dir / "a.mp3", title, artist, "MP3"));
        EXPECT_EQ(utf8 + "|" + std::string(28, 'x') + "\xD0\x9F", title + "|" + artist) << lang;
    }
}

TEST(TextCodec, DecodesInTheCodePageOfTheLocale)
{
    const struct { const char* lang; std::string bytes, text; } cases[] = {
        {"ru_RU", "Caf\xE9\x98", "Caf\xD0\xB9\xEF\xBF\xBD"},   // undefined in 1251: U+FFFD
        {"el_GR", "\xC5\xEB\xEB\xDC\xE4\xE1", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1"},
        {"ja_JP", "\x82\x20" "a\x82\0b"s, "\xEF\xBF\xBD" "a\0b"s},   // a lead before a zero is alone
        {"vi_VN", "\xEA\xEC", "\xE1\xBA\xBF"},           // letter and mark read as one: ế
    };
    for (const auto& c : cases) {
        ScopedLocale locale(c.lang);
        EXPECT_EQ(c.text, DecodeTagField(c.bytes)) << c.lang;
    }
    // A file name read in the code page, a UTF-8 folder above it as it is.
    ScopedLocale russian("ru_RU.UTF-8");
    EXPECT_EQ("/\xD0\xAF/\xD0\x9F\xD1\x80\xD0\xB8.mp3", DisplayableUtf8("/\xD0\xAF/\xCF\xF0\xE8.mp3"));
}

TEST(TextCodec, EncodesInTheCodePageWhenItKeepsTheText)
{
    const struct { const char* lang; std::string text; std::size_t limit; std::string stored; } cases[] = {
        {"ru_RU", "\xD0\x9F\xD1\x80\xD0\xB8", 30, "\xCF\xF0\xE8"},
        {"ru_RU", "\xE2\x98\x85", 30, "\xE2\x98\x85"},                      // ★: UTF-8
        {"ja_JP", "\xE8\xA1\xA8\xE7\xA4\xBA", 3, "\x95\x5C"},              // not split at 3
        {"vi_VN", "\xE1\xBA\xBF", 30, "\xEA\xEC"},                          // ế as e^ and mark
        {"vi_VN", "e\xCC\x81", 30, "e\xCC\x81"},   // typed apart it would read back as é: UTF-8
    };
    for (const auto& c : cases) {
        ScopedLocale locale(c.lang);
        const std::string stored = EncodeTagText(c.text, c.limit);
        EXPECT_EQ(c.stored, stored) << c.lang;
        EXPECT_EQ(c.text.substr(0, DecodeTagField(stored).size()), DecodeTagField(stored));
    }
}

} // namespace
