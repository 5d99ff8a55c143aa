// SPDX-License-Identifier: GPL-3.0-or-later
// The ID3v2 tag at the start of an MP3 file, read from bytes read through the
// caller's descriptor: the file is never opened again by path.
#pragma once

#include <cstddef>

#include "naming/NameTemplate.h"

// Reads the ID3v2 tag (2.2, 2.3 or 2.4) at the start of the regular file open
// on fd, size bytes long: texts as UTF-8, unfiltered, each the first value of
// the first frame that gives it (year in decimal, from TDRC, else TYER;
// track in decimal, two digits at least; genre a name, numbers 0-191 through
// Id3v2GenreName). A text in no known encoding is empty. The tag's first
// 4 KiB are read, and the rest only when a field of wanted (kField... bits)
// is not in them; a tag is read at most 1 MiB far, frames past that are not
// seen, and a compressed frame that inflates past 1 MiB gives nothing.
// 1 read; 0 no ID3v2 tag, or its header is broken; -1 the file could not be
// read (errno set).
int ReadId3v2Texts(int fd, long long size, unsigned wanted, SongFields& texts);
// How far the first read of ReadId3v2Texts goes.
constexpr std::size_t kId3v2FirstRead = 4096;
