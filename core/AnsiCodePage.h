// SPDX-License-Identifier: GPL-3.0-or-later
// The user's ANSI code page: the Windows code page that old tag writers used
// for text, chosen from the locale named in the environment as Windows chooses
// it from the system locale, and the conversions between it and UTF-8 (through
// the C library's iconv).
#pragma once

#include <string>
#include <vector>

// The code page for a locale name such as "ru_RU.UTF-8" or "sr_RS@latin":
// 1250 to 1258, 874, 932, 936, 949 or 950; 1252 for C, POSIX, "" and every
// language without a code page of its own. The codeset after '.' is ignored.
int CodePageOfLocale(const std::string& localeName);

// The code page of the locale named by LC_ALL, LC_CTYPE or LANG, the first
// that is set and not empty. Chosen at the first call and kept; whether that
// locale is installed does not matter.
int AnsiCodePage();

// Makes the next AnsiCodePage() choose again, for a program that changed its
// environment after the first choice (the tests do).
void ChooseAnsiCodePageAgain();

// Bytes in the ANSI code page as UTF-8. In a two-byte code page a lead byte
// takes the byte after it whatever it is; a lead byte at the end, or before a
// zero byte, is dropped. A byte or pair the code page leaves undefined becomes
// the C1 control of the same value under 1252 and U+FFFD elsewhere. Zero bytes
// stay.
std::string AnsiToUtf8(const std::string& bytes);

// The ANSI bytes of each code point, in order; false when one has no form in
// the code page (perChar is then incomplete).
[[nodiscard]] bool CodePointsToAnsi(const std::u32string& codePoints, std::vector<std::string>& perChar);
