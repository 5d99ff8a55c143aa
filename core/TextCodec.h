// SPDX-License-Identifier: GPL-3.0-or-later
// Text encodings of tag fields and file names. File names are UTF-8 (or raw
// bytes); ID3v1 texts are in whatever encoding their writer used: UTF-8, or
// the writer's ANSI code page (core/AnsiCodePage.h). Every tag text is read
// with DecodeTagField and written with EncodeTagText.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF). The empty text is valid.
bool IsValidUtf8(std::string_view bytes);

// Appends the UTF-8 form of a code point (U+FFFD for one that has none).
void AppendUtf8(std::string& out, char32_t codePoint);

// The code point that starts at i of text (i < text.size()), moving i past
// it; U+FFFD for an ill-formed part, which i is moved past whole.
char32_t NextCodePoint(std::string_view text, std::size_t& i);

// The code points of a text; every ill-formed part becomes U+FFFD.
std::u32string Utf8ToCodePoints(const std::string& bytes);

// A tag field's bytes as UTF-8 text: the bytes themselves when they are valid
// UTF-8; UTF-8 without its tail when only an incomplete sequence at the very
// end spoils it and a complete multi-byte sequence comes before (a writer cut
// the text at the field's length); in the ANSI code page otherwise. Zero bytes
// stay as they are: the caller decides where the text ends (for the editor,
// cut the field at its first zero byte before decoding). Always valid UTF-8.
std::string DecodeTagField(const std::string& bytes);

// Whether DecodeTagField keeps the bytes as they are: true with the length it
// keeps of them (all, or less without a cut-off tail); false when it decodes
// them in the code page. Costs no copy.
bool TagFieldIsUtf8(std::string_view bytes, std::size_t& length);

// Any byte string (a file name, a path, a message with a path in it) as valid
// UTF-8 fit to show: valid UTF-8 comes back unchanged; otherwise each part
// between slashes that is not valid UTF-8 is decoded in the ANSI code page
// (an old CD's Windows-1251 names read in Cyrillic).
std::string DisplayableUtf8(const std::string& bytes);

// Cuts valid UTF-8 to at most maxBytes bytes without splitting a character.
std::string CutUtf8(const std::string& utf8, std::size_t maxBytes);

// The bytes to store for a text typed in the editor, at most maxBytes bytes
// (not characters) long, cut on a character boundary: in the ANSI code page
// when every character has a form there and the stored bytes read back
// (DecodeTagField) as the same text as far as they go; UTF-8 otherwise.
std::string EncodeTagText(const std::string& utf8, std::size_t maxBytes);
