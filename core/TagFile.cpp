// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TagFile.h"

#include "core/Translate.h"
#include "platform/FileSystem.h"
#include "platform/FolderTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Stored in the rows and compared in English; translated where shown.
// TRANSLATORS: a state in the queue's State column (and in the command-line
// tool's output); the column is narrow.
const char* const kStateWaiting = N_("Waiting");
// TRANSLATORS: a state; the file was renamed after its tag.
const char* const kStateSuccessful = N_("Successful");
// TRANSLATORS: a state; the user renamed the file in the queue or the editor.
const char* const kStateRenamedManually = N_("Renamed manually");
// TRANSLATORS: a failure state; keep the trailing blank.
const char* const kStateSongNotFound = N_("Failed, Song name not found! ");
// TRANSLATORS: a failure state; keep the trailing blank.
const char* const kStateUnreadable = N_("Failed, File unwritable! ");
// TRANSLATORS: a failure state; keep the trailing blank.
const char* const kStateRenameFailed = N_("Failed, Unable to rename the file automatically! ");

namespace {

// Field offsets and lengths inside the record.
constexpr int kTitleAt = 3, kArtistAt = 33, kAlbumAt = 63, kYearAt = 93, kCommentAt = 97;
constexpr int kTextLength = 30, kYearLength = 4;
constexpr int kTrackMarkAt = 125, kTrackAt = 126, kGenreAt = 127;
constexpr int kCommentWithTrackLength = 28;

// Opens a regular file; 1 with the descriptor and the size, 0 with nothing
// left open. O_NONBLOCK keeps a FIFO or device that bears an MP3 name from
// blocking the open; anything but a regular file is then refused.
int OpenRegular(const std::string& path, int flags, int& fd, off_t& size)
{
    fd = -1;
    if (!IsUsablePath(path)) {
        errno = EINVAL;
        return 0;
    }
    const int opened = open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (opened < 0)
        return 0;
    // statx gives the kind and the size in one call.
    FileId id;
    std::uint64_t length = 0;
    std::uint32_t mode = 0;
    int err = 0;
    if (!FileIdAt(opened, "", AT_EMPTY_PATH, id, &length, &mode))
        err = errno;
    else if (!S_ISREG(mode))
        err = EINVAL;
    if (err != 0) {
        close(opened);
        errno = err;
        return 0;
    }
    fd = opened;
    size = static_cast<off_t>(length);
    return 1;
}

// Closes the descriptor of an operation on every way out.
class FileGuard
{
public:
    explicit FileGuard(int& fd) : m_fd(fd) {}
    ~FileGuard()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;

    // 1 when the close succeeded.
    int Close()
    {
        const int rc = close(m_fd);
        m_fd = -1;
        return rc == 0 ? 1 : 0;
    }

private:
    int& m_fd;
};

bool WriteAll(int fd, const unsigned char* buffer, std::size_t length, off_t offset)
{
    while (length > 0) {
        const ssize_t n = pwrite(fd, buffer, length, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        buffer += n;
        length -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

// Reads the last 128 bytes; false when the file is shorter or the read fails.
bool ReadLastRecord(int fd, off_t size, Id3v1Tag& record)
{
    if (size < kTagSize) {
        errno = EINVAL;
        return false;
    }
    return ReadAt(fd, record.bytes, kTagSize, size - kTagSize);
}

bool HasMagic(const Id3v1Tag& record)
{
    return record.bytes[0] == 'T' && record.bytes[1] == 'A' && record.bytes[2] == 'G';
}

std::string_view FieldView(const Id3v1Tag& record, int at, int length)
{
    return {reinterpret_cast<const char*>(record.bytes + at), static_cast<std::size_t>(length)};
}

std::string Field(const Id3v1Tag& record, int at, int length)
{
    return std::string(reinterpret_cast<const char*>(record.bytes + at),
                       static_cast<std::size_t>(length));
}

void PutField(Id3v1Tag& record, int at, int length, const std::string& text)
{
    std::memcpy(record.bytes + at, text.data(),
                std::min(text.size(), static_cast<std::size_t>(length)));
}

} // namespace

CTagFile::CTagFile() : m_file(-1)
{
    ClearTag(&m_tag);
}

void CTagFile::ClearTag(Id3v1Tag* buffer)
{
    if (buffer != nullptr)
        std::memset(buffer->bytes, 0, sizeof buffer->bytes);
}

int CTagFile::ReadTag(const std::string& path, const std::string& type,
                      std::string& title, std::string& artist, std::string& album,
                      std::string& year, std::string& comment, std::string& track,
                      int& genre)
{
    if (path.empty() || type != "MP3")
        return 0;
    off_t size = 0;
    if (!OpenRegular(path, O_RDONLY, m_file, size))
        return -1;
    FileGuard guard(m_file);
    return ReadTagFrom(m_file, size, title, artist, album, year, comment, track, genre);
}

int CTagFile::ReadTagFrom(int fd, long long size, std::string& title, std::string& artist,
                          std::string& album, std::string& year, std::string& comment,
                          std::string& track, int& genre)
{
    Id3v1Tag record;
    ClearTag(&record);
    if (!ReadLastRecord(fd, static_cast<off_t>(size), record))
        return -1;
    if (!HasMagic(record)) {
        title.clear();
        artist.clear();
        album.clear();
        year.clear();
        comment.clear();
        track.clear();
        genre = -1;
        return -2;
    }
    title = Field(record, kTitleAt, kTextLength);
    artist = Field(record, kArtistAt, kTextLength);
    album = Field(record, kAlbumAt, kTextLength);
    year = Field(record, kYearAt, kYearLength);
    comment = Field(record, kCommentAt, kTextLength);
    track.clear();
    genre = record.bytes[kGenreAt];
    if (record.bytes[kTrackMarkAt] == 0 && record.bytes[kTrackAt] != 0) {
        track.assign(1, static_cast<char>(record.bytes[kTrackAt]));
        comment.resize(kCommentWithTrackLength);
    }
    return 1;
}

int CTagFile::WriteTag(const std::string& path, const std::string& type,
                       const std::string& title, const std::string& artist,
                       const std::string& album, const std::string& year,
                       const std::string& comment, const std::string& track, int genre)
{
    if (path.empty() || type.empty())
        return 0;

    Id3v1Tag record;
    ClearTag(&record);
    PutField(record, 0, 3, "TAG");
    PutField(record, kTitleAt, kTextLength, title);
    PutField(record, kArtistAt, kTextLength, artist);
    PutField(record, kAlbumAt, kTextLength, album);
    PutField(record, kYearAt, kYearLength, year);
    PutField(record, kCommentAt, kTextLength, comment);
    record.bytes[kGenreAt] = static_cast<unsigned char>(genre & 0xFF);
    if (!track.empty()) {
        record.bytes[kTrackMarkAt] = 0;
        record.bytes[kTrackAt] = static_cast<unsigned char>(track[0]);
    }

    off_t size = 0;
    if (!OpenRegular(path, O_RDWR, m_file, size))
        return 0;
    FileGuard guard(m_file);
    // The old last 128 bytes decide between replacing and appending. If they
    // cannot be read we cannot tell a tag from audio, so nothing is written.
    Id3v1Tag old;
    if (!ReadLastRecord(m_file, size, old))
        return 0;
    const bool append = !HasMagic(old);
    const off_t at = append ? size : size - kTagSize;

    // fdatasync brings out write errors the page cache would otherwise hide.
    if (!WriteAll(m_file, record.bytes, kTagSize, at)
        || (fdatasync(m_file) != 0 && errno != EINVAL)) {
        const int err = errno;
        if (append) {
            if (ftruncate(m_file, size) != 0) {
                // Nothing more we can do; the result already says it failed.
            }
        } else {
            WriteAll(m_file, old.bytes, kTagSize, at);
        }
        errno = err;
        return 0;
    }
    return guard.Close();
}

std::string CTagFile::ReadSongName(const std::string& path, std::string& title,
                                   std::string& artist, const std::string& type)
{
    if (path.empty() || type != "MP3")
        return kStateSongNotFound;
    off_t size = 0;
    if (!OpenRegular(path, O_RDONLY, m_file, size))
        return kStateUnreadable;
    FileGuard guard(m_file);
    const std::string state = SongNameOfRecord(m_file, size, title, artist);
    guard.Close();   // opened read-only: a failed close loses nothing
    return state;
}

std::string CTagFile::ReadSongNameFrom(int fd, long long size, std::string& title, std::string& artist)
{
    return SongNameOfRecord(fd, size, title, artist);
}

std::string CTagFile::SongNameOfRecord(int fd, long long size, std::string& title, std::string& artist)
{
    if (fd >= 0 && !ReadLastRecord(fd, size, m_tag))
        return kStateUnreadable;
    if (!HasMagic(m_tag))
        return kStateSongNotFound;
    title.clear();
    artist.clear();
    CleanName(FieldView(m_tag, kTitleAt, kTextLength), title);
    CleanName(FieldView(m_tag, kArtistAt, kTextLength), artist);
    // Blanks only name nothing: a name may not begin with one.
    if (IsBlankText(artist))
        artist.clear();
    return IsBlankText(title) ? kStateSongNotFound : kStateSuccessful;
}

bool HasId3v2ButNoId3v1(int fd, long long size)
{
    unsigned char head[10];
    Id3v1Tag record;
    // "ID3", a version and revision below 0xFF, and a size of four 7-bit
    // bytes: what every ID3v2 reader checks before it trusts the rest.
    return size >= 10 + kTagSize && ReadAt(fd, head, sizeof head, 0) && head[0] == 'I' && head[1] == 'D'
           && head[2] == '3' && head[3] != 0xFF && head[4] != 0xFF && ((head[6] | head[7] | head[8] | head[9]) & 0x80) == 0
           && ReadLastRecord(fd, static_cast<off_t>(size), record) && !HasMagic(record);
}

std::string CTagFile::SongNameOfTail(const unsigned char* tail, std::string& title, std::string& artist)
{
    std::memcpy(m_tag.bytes, tail, kTagSize);
    return SongNameOfRecord(-1, 0, title, artist);
}

CTagFile& TheTagFile()
{
    static CTagFile tagFile;
    return tagFile;
}
