// SPDX-License-Identifier: GPL-3.0-or-later
// ID3v1 tag access, the song-name filter and the auto-rename of one file.
// Paths and tag texts are byte strings; nothing here throws or shows a window.
#pragma once

#include <string>
#include <string_view>


// The 128-byte record at the very end of an MP3 file.
struct Id3v1Tag
{
    unsigned char bytes[128];
};

constexpr int kTagSize = 128;
constexpr int kGenreCount = 148;
constexpr int kNoGenre = 255;

// Genre names by genre byte, in the order the editor's Genre box lists them.
extern const char* const kGenreNames[kGenreCount];

// The name for a genre byte, or nullptr for "no genre" (148..255 and anything else).
const char* GenreName(int genreByte);

// An ID3v2 genre number's name: the window's list, then the names ID3v2
// readers add up to 191; nullptr past that.
constexpr int kId3v2GenreCount = 192;
const char* Id3v2GenreName(int number);

// State texts of the queue's State column, in English as stored and compared
// (trailing blanks included); shown through Tr.
extern const char* const kStateWaiting;          // "Waiting"
extern const char* const kStateSuccessful;       // "Successful"
extern const char* const kStateRenamedManually;  // "Renamed manually"
extern const char* const kStateSongNotFound;     // "Failed, Song name not found! "
// The file could not be read (or is no regular file): its text, which users
// know from the first versions, says unwritable.
extern const char* const kStateUnreadable;       // "Failed, File unwritable! "
extern const char* const kStateRenameFailed;     // "Failed, Unable to rename the file automatically! "

// Every tag file access goes through this object. Each operation opens and
// closes the file itself; no file stays open between calls.
class CTagFile
{
public:
    CTagFile();
    CTagFile(const CTagFile&) = delete;
    CTagFile& operator=(const CTagFile&) = delete;

    // 1 tag read; -2 no tag (texts empty, genre -1); -1 unreadable, not a
    // regular file or shorter than 128 bytes (outputs unchanged); 0 empty path
    // or a type other than "MP3". Texts are the raw bytes of their fields.
    [[nodiscard]] int ReadTag(const std::string& path, const std::string& type,
                std::string& title, std::string& artist, std::string& album,
                std::string& year, std::string& comment, std::string& track,
                int& genre);

    // The same from a regular file open for reading, of the size the caller
    // found; the descriptor stays open.
    [[nodiscard]] int ReadTagFrom(int fd, long long size, std::string& title, std::string& artist,
                    std::string& album, std::string& year, std::string& comment,
                    std::string& track, int& genre);

    // 1 when the 128 bytes were written (replacing a tag, or appended when the
    // file had none), 0 otherwise. On 0 the file is as it was before the call.
    [[nodiscard]] int WriteTag(const std::string& path, const std::string& type,
                 const std::string& title, const std::string& artist,
                 const std::string& album, const std::string& year,
                 const std::string& comment, const std::string& track,
                 int genre);

    // Zeroes a tag buffer; a null buffer is ignored.
    static void ClearTag(Id3v1Tag* buffer);

    // kStateSuccessful with the cleaned title, not blanks only (and the
    // cleaned artist, empty when blanks only), kStateSongNotFound or
    // kStateUnreadable.
    [[nodiscard]] std::string ReadSongName(const std::string& path, std::string& title,
                             std::string& artist, const std::string& type);

    // The same from a regular file open for reading, of the size the caller
    // found; the descriptor stays open.
    [[nodiscard]] std::string ReadSongNameFrom(int fd, long long size, std::string& title, std::string& artist);
    // The same from a file's last kTagSize bytes, read already.
    [[nodiscard]] std::string SongNameOfTail(const unsigned char* tail, std::string& title, std::string& artist);

    // Makes a tag text fit for a file name. 1 when it ran, 0 when the source is
    // empty (target untouched). The target is valid UTF-8 and never holds a
    // NUL or a separator.
    int CleanName(std::string_view source, std::string& target);

private:
    // fd < 0: the record is in m_tag already.
    std::string SongNameOfRecord(int fd, long long size, std::string& title, std::string& artist);

    Id3v1Tag m_tag;   // ReadSongName reads into this
    int m_file;       // descriptor of the operation in progress, -1 between calls
};

// Whether the regular file open on fd, size bytes long, begins with an ID3v2
// tag header and has no ID3v1 tag: the window can name it when asked to read
// ID3v2.
bool HasId3v2ButNoId3v1(int fd, long long size);

// The one tag-file object of the program.
CTagFile& TheTagFile();

// title + ".mp3", or artist + " - " + title + ".mp3" when artistFirst and the
// artist is not empty.
std::string ComposeTargetName(const std::string& title, const std::string& artist,
                              bool artistFirst);
// The same into name, whose room is used again (title and artist must not be
// in it).
void ComposeTargetNameInto(std::string& name, std::string_view title, std::string_view artist, bool artistFirst);

// CleanName for a text known to be Unicode (an ID3v2 text as UTF-8): no code
// page is tried; an ill-formed part is dropped.
std::string CleanUtf8Name(std::string_view utf8);
// The same into target, whose room is used again (utf8 must not be in it).
void CleanUtf8NameInto(std::string_view utf8, std::string& target);

// Blanks as far as a name is concerned: the ASCII blank and the Unicode
// spaces (U+00A0, U+1680, U+2000-U+200A, U+202F, U+205F, U+3000), which the
// filter keeps but which look the same.
bool IsBlankCodePoint(char32_t c);
// UTF-8 text without the blanks at its ends.
std::string_view TrimBlanks(std::string_view utf8);
// The same in place.
void TrimBlanksInPlace(std::string& utf8);
// Whether UTF-8 text is empty or blanks only: no song name. The usual text
// is decided by its first byte, here, at no cost to a batch.
inline bool IsBlankText(std::string_view utf8)
{
    return utf8.empty() || utf8[0] == ' ' || static_cast<unsigned char>(utf8[0]) >= 0x80 ? TrimBlanks(utf8).empty()
                                                                                         : false;
}

// Cuts a new name ending in ".mp3" that is longer than a file name may be
// (NAME_MAX, 255 bytes) before its ".mp3": never inside a UTF-8 character nor
// between a letter and the combining marks after it, and without blanks left
// before the ".mp3". The window's rule never makes one that long.
void FitFileName(std::string& name);

// Checks a name typed by the user; shows the message of the first broken rule
// through the warning helper and returns false, or returns true.
bool CheckMp3FileName(const std::string& name);

