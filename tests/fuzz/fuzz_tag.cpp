// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: arbitrary file bytes through the tag reader and writer.
// Aborts when a read disagrees with the bytes, when a write does not read back
// what was written, or when a failed write leaves the file changed.
#include "core/TagFile.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::string g_path;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void Put(const std::string& bytes)
{
    const int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Check(fd >= 0);
    Check(write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    Check(close(fd) == 0);
}

std::string Get()
{
    std::string bytes;
    const int fd = open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
    Check(fd >= 0);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(n));
    Check(n == 0 && close(fd) == 0);
    return bytes;
}

// Bytes [at, at + length) of the input, as far as it reaches.
std::string Slice(const std::string& s, std::size_t at, std::size_t length)
{
    return at < s.size() ? s.substr(at, length) : std::string();
}

std::string Padded(std::string text, std::size_t length)
{
    text.resize(length, '\0');
    return text;
}

void SetFileSizeLimit(rlim_t limit)
{
    struct rlimit rl;
    Check(getrlimit(RLIMIT_FSIZE, &rl) == 0);
    rl.rlim_cur = limit;
    Check(setrlimit(RLIMIT_FSIZE, &rl) == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* base = std::getenv("TMPDIR");
    g_path = std::string(base && *base ? base : "/tmp") + "/tavoly-fuzz-tag-"
             + std::to_string(getpid()) + ".mp3";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string file(reinterpret_cast<const char*>(data), size);
    Put(file);
    const bool hasTag = size >= 128 && file.compare(size - 128, 3, "TAG") == 0;

    CTagFile tf;
    std::string title, artist, album, year, comment, track;
    int genre = 0;
    const int read = tf.ReadTag(g_path, "MP3", title, artist, album, year, comment, track, genre);
    Check(read == (size < 128 ? -1 : hasTag ? 1 : -2));
    if (read == 1) {
        Check(title == file.substr(size - 125, 30) && artist == file.substr(size - 95, 30));
        Check(genre == static_cast<unsigned char>(file[size - 1]));
    }

    std::string songTitle, songArtist;
    const std::string state = tf.ReadSongName(g_path, songTitle, songArtist, "MP3");
    if (state == kStateSuccessful) {
        Check(hasTag && !songTitle.empty());
        Check(songTitle.find_first_of(std::string("\0/", 2)) == std::string::npos);
    } else {
        Check(state == (size < 128 ? kStateUnreadable : kStateSongNotFound));
    }
    Check(Get() == file);   // reading changes nothing

    // New texts from the input itself; a tenth of the runs write under a
    // file-size limit that an append would cross.
    const std::string newTitle = Slice(file, 0, 40), newArtist = Slice(file, 40, 30);
    const std::string newTrack = Slice(file, 70, 1);
    const int newGenre = size > 0 ? data[0] : 0;
    const bool limited = size > 0 && data[size - 1] % 10 == 0;
    if (limited) {
        // A write past the limit fails with EFBIG, as in the program (libFuzzer
        // puts its own handler in place, so this is set on every such run).
        std::signal(SIGXFSZ, SIG_IGN);
        SetFileSizeLimit(static_cast<rlim_t>(size) + 64);
    }
    const int wrote = tf.WriteTag(g_path, "MP3", newTitle, newArtist, "Album", "1999", "",
                                  newTrack, newGenre);
    if (limited)
        SetFileSizeLimit(RLIM_INFINITY);

    const std::string after = Get();
    if (wrote != 1) {
        Check(after == file);
        Check(size < 128 || (limited && !hasTag));
        return 0;
    }
    std::string record = "TAG" + Padded(newTitle.substr(0, 30), 30) + Padded(newArtist, 30)
                         + Padded("Album", 30) + "1999" + std::string(30, '\0');
    record += static_cast<char>(newGenre);
    if (!newTrack.empty())
        record[126] = newTrack[0];
    Check(after == (hasTag ? file.substr(0, size - 128) : file) + record);
    Check(tf.ReadTag(g_path, "MP3", title, artist, album, year, comment, track, genre) == 1);
    Check(title == record.substr(3, 30) && artist == record.substr(33, 30));
    Check(album == Padded("Album", 30) && year == "1999" && genre == newGenre);
    Check(track == (!newTrack.empty() && newTrack[0] != '\0' ? newTrack : std::string()));
    return 0;
}
