// SPDX-License-Identifier: GPL-3.0-or-later
// The auto-rename mode as the settings file beside the program keeps it: one
// byte of "Vov/Vov.dat" in the program's folder.
#pragma once

#include <string>

// Offset of the one byte of the settings file that holds the mode.
constexpr long kSettingsOffset = 12000;

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
