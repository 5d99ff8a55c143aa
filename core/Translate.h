// SPDX-License-Identifier: GPL-3.0-or-later
// Texts people read, in their language through gettext. The English texts in
// the sources are the program's own: without a catalogue for the user's
// language every text stays byte for byte as written. Machine-readable output
// (--tsv, --json, the journal) never goes through here.
#pragma once

#include <string>

// The text domain of both programs' catalogues.
constexpr const char* kTextDomain = "mp3tavoly";

// Finds the catalogues beside the program (the build tree's locale/, or
// share/locale of the prefix it is installed in) and has them answer in UTF-8.
// Once, after setlocale; the language then follows LANGUAGE, LC_ALL,
// LC_MESSAGES and LANG as gettext reads them.
void StartTranslations();

// english in the user's language (UTF-8), or english itself. The compiler
// checks a translated format against its arguments as it checks english.
const char* Tr(const char* english) __attribute__((format_arg(1)));
// The form for count n of a text with a plural, in the user's language.
const char* TrN(const char* one, const char* many, unsigned long n)
    __attribute__((format_arg(1))) __attribute__((format_arg(2)));
// Marks a text for the catalogue where it is translated later, by Tr (the
// same as wx's N_, which may come first).
#ifndef N_
#define N_(text) text
#endif

// Whether a catalogue of ours answers in the user's language; never in English.
bool UsesCatalogue();

// printf into a string: a translated text with its numbers and names put in
// where its translation wants them.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The C library's description of errno err in English, for output that must
// not change with the language (strerror follows it).
std::string EnglishErrorText(int err);

// An English reason kept for machine-readable output, as people read it: our
// own texts from our catalogue, the C library's descriptions from its own.
const char* TrReason(const char* english);
