// Text encodings of tag fields and file names. File names are UTF-8 (or raw
// bytes); ID3v1 texts are in whatever encoding their writer used, in practice
// UTF-8 or Windows-1252.
#pragma once

#include <cstddef>
#include <string>

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF). The empty text is valid.
bool IsValidUtf8(const std::string& bytes);

// Appends the UTF-8 form of a code point (U+FFFD for one that has none).
void AppendUtf8(std::string& out, char32_t codePoint);

// The code points of a text; every ill-formed part becomes U+FFFD.
std::u32string Utf8ToCodePoints(const std::string& bytes);

// Windows-1252 bytes as UTF-8. The five bytes the code page leaves undefined
// (0x81 0x8D 0x8F 0x90 0x9D) become the C1 controls of the same value.
std::string Cp1252ToUtf8(const std::string& bytes);

// The Windows-1252 byte for a code point; false when it has none.
bool CodePointToCp1252(char32_t codePoint, unsigned char& byte);

// A tag field's bytes as UTF-8 text: the bytes themselves when they are valid
// UTF-8; UTF-8 without its tail when only an incomplete sequence at the very
// end spoils it and a complete multi-byte sequence comes before (a writer cut
// the text at the field's length); Windows-1252 otherwise. Zero bytes stay as
// they are: the caller decides where the text ends (for the editor, cut the
// field at its first zero byte before decoding).
std::string DecodeTagField(const std::string& bytes);

// Any byte string (a file name, say) as valid UTF-8 fit to show: ill-formed
// parts become U+FFFD. Valid text comes back unchanged.
std::string DisplayableUtf8(const std::string& bytes);

// Cuts valid UTF-8 to at most maxBytes bytes without splitting a character.
std::string CutUtf8(const std::string& utf8, std::size_t maxBytes);

// The bytes to store for a text typed in the editor, at most maxBytes long:
// Windows-1252 when every character has a byte there and the stored bytes read
// back (DecodeTagField) as the same text; UTF-8 otherwise. Cut on a character
// boundary.
std::string EncodeTagText(const std::string& utf8, std::size_t maxBytes);
