// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: arbitrary file bytes through the ID3v2 reader. Aborts
// when a text is not well-formed UTF-8 or holds a zero byte, when a field
// depends on which other fields were asked for (the first part of a tag and
// the whole of it must agree), or when a second read differs from the first.
#include "naming/Id3v2Texts.h"
#include "WellFormed.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

int g_fd = -1;

int Read(const std::uint8_t* data, std::size_t size, unsigned wanted, SongFields& texts)
{
    Check(ftruncate(g_fd, 0) == 0);
    Check(pwrite(g_fd, data, size, 0) == static_cast<ssize_t>(size));
    return ReadId3v2Texts(g_fd, static_cast<long long>(size), wanted, texts);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_fd = memfd_create("fuzz_id3v2", MFD_CLOEXEC);
    Check(g_fd >= 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const unsigned all = kFieldTitle | kFieldArtist | kFieldAlbum | kFieldYear | kFieldTrack | kFieldGenre;
    SongFields texts, again, alone;
    const int read = Read(data, size, all, texts);
    Check(read == 0 || read == 1);
    for (const std::string* text : {&texts.title, &texts.artist, &texts.album, &texts.year, &texts.track, &texts.genre})
        Check(WellFormed(*text) && text->find('\0') == std::string::npos);
    Check(Read(data, size, all, again) == read);
    Check(again.title == texts.title && again.artist == texts.artist && again.album == texts.album
          && again.year == texts.year && again.track == texts.track && again.genre == texts.genre);
    // Asked alone, each field is the same.
    const std::pair<unsigned, std::string SongFields::*> fields[] = {
        {kFieldTitle, &SongFields::title}, {kFieldArtist, &SongFields::artist}, {kFieldAlbum, &SongFields::album},
        {kFieldYear, &SongFields::year},   {kFieldTrack, &SongFields::track},   {kFieldGenre, &SongFields::genre},
    };
    for (const auto& [field, member] : fields) {
        Check(Read(data, size, field, alone) == read);
        Check(alone.*member == texts.*member);
    }
    return 0;
}
