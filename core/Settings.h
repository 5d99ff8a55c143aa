// SPDX-License-Identifier: GPL-3.0-or-later
// The window's settings as the file beside the program keeps them: two bytes
// of "Vov/Vov.dat" in the program's folder, the auto-rename mode and the tag
// the song is read from.
#pragma once

#include <string>

// Offset of the byte of the settings file that holds the mode.
constexpr long kSettingsOffset = 12000;
// The byte after it: '1' when the song is read from the ID3v2 tag where a
// file has one. A file too short to hold it, or any other byte, means ID3v1,
// so files older than the choice keep their behaviour.
constexpr long kTagSourceOffset = kSettingsOffset + 1;

// The full path of the settings file, "Vov/Vov.dat" under the program
// directory, or "" when the program directory is unknown.
std::string SettingsFilePath();

// Reads the mode byte of the file at path: 0 only when the byte exists and is
// '0', else 1. Never creates or changes the file.
[[nodiscard]] int ReadModeByte(const std::string& path);

// Writes '1' or '0' at the mode byte of an existing regular file, leaving every
// other byte as it was (a shorter file grows to hold it; the gap reads as zero
// bytes). 1 written, 0 nothing written. Never creates or truncates the file.
[[nodiscard]] int WriteModeByte(const std::string& path, int withArtist);

// 1 when the tag-source byte of the file at path is '1' (ID3v2 where there
// is one), else 0. Never creates or changes the file.
[[nodiscard]] int ReadTagSourceByte(const std::string& path);

// Makes the tag-source byte of an existing regular file say fromId3v2,
// writing it only when it does not say so already: a file that never held
// the choice is left as it is while ID3v1 is chosen. 1 it says so now, 0
// nothing written. Never creates or truncates the file.
[[nodiscard]] int WriteTagSourceByte(const std::string& path, int fromId3v2);
