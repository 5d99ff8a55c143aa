// SPDX-License-Identifier: GPL-3.0-or-later
// The frames are found here, not by TagLib: TagLib 1.13 stops at a frame of
// size zero, reads a grouping byte as the text's encoding, loses a short last
// frame of a tag with a footer, inflates a compressed frame without a bound,
// and parses every frame of the tag, chapters inside chapters by recursion
// (a stack an input can overflow). Here one loop walks the top-level frames
// and takes only the few text frames a name needs; containers are skipped by
// their size, never entered. TagLib still turns the texts' encodings into
// characters (String), which it does well. It throws nothing of its own (its
// UTF-8 decoder's errors it catches); running out of memory ends the program
// there as anywhere else.
#include "naming/Id3v2Texts.h"

#include "core/TagFile.h"
#include "core/TextCodec.h"
#include "platform/FileSystem.h"

#include <tbytevector.h>
#include <tdebuglistener.h>
#include <tstring.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kFirstRead = kId3v2FirstRead;
// A stranger's tag may declare 256 MiB: what is read stays within this, and
// so does what a compressed frame inflates to.
constexpr std::size_t kMaxTag = std::size_t(1) << 20;
constexpr std::size_t kMaxInflated = std::size_t(1) << 20;

// A TagLib built for debugging reports every oddity of a text on stderr,
// which is our output.
class CSilent : public TagLib::DebugListener
{
public:
    void printMessage(const TagLib::String&) override {}
};

// The frames a name is made of, by what they give.
enum Slot
{
    kTitle,
    kArtist,
    kAlbum,
    kRecorded,   // TDRC, 2.4's date
    kYear,       // TYER (TYE), 2.3's, which 2.4 writers still write
    kTrack,
    kGenre,
    kSlots
};

int SlotOf(std::string_view id)
{
    static const std::pair<std::string_view, Slot> ids[] = {
        {"TIT2", kTitle}, {"TPE1", kArtist}, {"TALB", kAlbum}, {"TDRC", kRecorded}, {"TYER", kYear},
        {"TRCK", kTrack}, {"TCON", kGenre},  {"TT2", kTitle},  {"TP1", kArtist},    {"TAL", kAlbum},
        {"TYE", kYear},   {"TRK", kTrack},   {"TCO", kGenre},
    };
    for (const auto& [name, slot] : ids) {
        if (name == id)
            return slot;
    }
    return -1;
}

unsigned SlotsOf(unsigned wanted)
{
    unsigned slots = 0;
    slots |= (wanted & kFieldTitle) != 0 ? 1u << kTitle : 0;
    slots |= (wanted & kFieldArtist) != 0 ? 1u << kArtist : 0;
    slots |= (wanted & kFieldAlbum) != 0 ? 1u << kAlbum : 0;
    slots |= (wanted & kFieldYear) != 0 ? (1u << kRecorded | 1u << kYear) : 0;
    slots |= (wanted & kFieldTrack) != 0 ? 1u << kTrack : 0;
    slots |= (wanted & kFieldGenre) != 0 ? 1u << kGenre : 0;
    return slots;
}

// The first frame of each wanted slot, its data with every frame flag undone
// (a view into the tag, or into own where something was undone); an
// unreadable one (encrypted, broken) is there with no data.
struct FoundFrames
{
    unsigned seen = 0;
    std::string_view data[kSlots];
    std::string own[kSlots];
};

bool IsFrameIdByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsFrameIdAt(std::string_view body, std::size_t at, std::size_t length)
{
    if (at > body.size() || body.size() - at < length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (!IsFrameIdByte(body[at + i]))
            return false;
    }
    return true;
}

std::uint32_t BigEndian(std::string_view bytes, std::size_t at, std::size_t count)
{
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < count; ++i)
        n = n << 8 | static_cast<unsigned char>(bytes[at + i]);
    return n;
}

std::uint32_t SyncSafe(std::string_view bytes, std::size_t at)
{
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < 4; ++i)
        n = n << 7 | (static_cast<unsigned char>(bytes[at + i]) & 0x7F);
    return n;
}

bool IsSyncSafe(std::string_view bytes, std::size_t at)
{
    return ((static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1])
             | static_cast<unsigned char>(bytes[at + 2]) | static_cast<unsigned char>(bytes[at + 3]))
            & 0x80)
           == 0;
}

// Undoes unsynchronisation: the zero byte a writer put after each 0xFF.
void Resynchronise(std::string_view in, std::string& out)
{
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        out += in[i];
        if (in[i] == '\xFF' && i + 1 < in.size() && in[i + 1] == '\0')
            ++i;
    }
}

// zlib's inflate, stopped where the output would pass kMaxInflated: such a
// frame gives nothing, as one that does not inflate. A stream cut short
// gives what it held.
bool Inflate(std::string_view in, std::string& out)
{
    out.clear();
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    int status = Z_OK;
    std::size_t room = std::min<std::size_t>(kMaxInflated + 1, 4096);
    while (status == Z_OK) {
        out.resize(room);
        z.next_out = reinterpret_cast<Bytef*>(&out[z.total_out]);
        z.avail_out = static_cast<uInt>(room - z.total_out);
        status = inflate(&z, Z_NO_FLUSH);
        if (z.total_out > kMaxInflated)
            break;
        if (status == Z_OK && z.avail_out == 0)
            room = std::min(kMaxInflated + 1, 2 * room);
        else if (status == Z_OK || status == Z_BUF_ERROR)
            status = z.avail_in == 0 ? Z_STREAM_END : Z_DATA_ERROR;
    }
    const bool whole = status == Z_STREAM_END && z.total_out <= kMaxInflated;
    out.resize(whole ? z.total_out : 0);
    inflateEnd(&z);
    return whole;
}

// A frame's data with its format flags undone: 2.4's unsynchronisation
// (the frame's flag or the tag's), the grouping byte, the data length,
// compression. false for an encrypted frame and one that does not inflate.
bool FrameData(char version, bool tagUnsynchronised, unsigned format, std::string_view raw, std::string& own,
               std::string_view& data)
{
    std::string plain;
    data = raw;
    bool compressed = false;
    if (version == 3) {
        // 0x80 compressed (4 bytes of size first), 0x40 encrypted, 0x20 grouped.
        if ((format & 0x40) != 0)
            return false;
        compressed = (format & 0x80) != 0;
        const std::size_t skip = (compressed ? 4 : 0) + ((format & 0x20) != 0 ? 1 : 0);
        if (skip > data.size())
            return false;
        data.remove_prefix(skip);
    } else if (version == 4) {
        // 0x40 grouped, 0x08 compressed, 0x04 encrypted, 0x02 unsynchronised,
        // 0x01 data length given; what they add comes in that order.
        if ((format & 0x04) != 0)
            return false;
        if (tagUnsynchronised || (format & 0x02) != 0) {
            Resynchronise(data, plain);
            data = plain;
        }
        compressed = (format & 0x08) != 0;
        const std::size_t skip = ((format & 0x40) != 0 ? 1 : 0) + ((format & 0x09) != 0 ? 4 : 0);
        if (skip > data.size())
            return false;
        data.remove_prefix(skip);
    }
    if (compressed) {
        if (!Inflate(data, own))
            return false;
        data = own;
    } else if (!plain.empty()) {
        own.swap(plain);
        data = own;
    }
    return true;
}

// Walks the frames of body, a 2.2, 2.3 or 2.4 tag's bytes after its header
// (and extended header), taking the first frame of each wanted slot. A frame
// of size zero holds nothing and is passed. false when a frame runs past the
// end of body (a part of the tag, if partial), which does not settle it.
bool FindFrames(char version, bool tagUnsynchronised, std::string_view body, bool partial, unsigned slots,
                FoundFrames& found)
{
    const std::size_t idLength = version == 2 ? 3 : 4;
    const std::size_t headerLength = version == 2 ? 6 : 10;
    const std::size_t n = body.size();
    // TDRC settles the year; TYER only where no TDRC follows.
    const unsigned settling = slots & ~(1u << kYear);
    for (std::size_t at = 0; n - at >= headerLength && (found.seen & settling) != settling;) {
        // iTunes wrote 2.2's ids, a zero byte after them, into 2.3 tags.
        const std::size_t id = version == 3 && IsFrameIdAt(body, at, 3) && body[at + 3] == '\0' ? 3 : idLength;
        if (body[at] == '\0' || !IsFrameIdAt(body, at, id))
            return true;   // padding, or no more frames
        std::size_t size = 0;
        if (version == 2) {
            size = BigEndian(body, at + 3, 3);
        } else if (version == 3 || !IsSyncSafe(body, at + 4)) {
            size = BigEndian(body, at + 4, 4);
        } else {
            size = SyncSafe(body, at + 4);
            // Some writers (iTunes) put 2.3's sizes in 2.4 tags: where the
            // size as written leads to no frame and the other way to one,
            // the other way it is.
            const std::size_t plain = BigEndian(body, at + 4, 4);
            if (size > 127 && !IsFrameIdAt(body, at + headerLength + size, 4)) {
                if (partial && std::max(size, plain) + 4 > n - at - headerLength)
                    return false;   // where it leads is not read yet
                if (IsFrameIdAt(body, at + headerLength + plain, 4))
                    size = plain;
            }
        }
        if (size > n - at - headerLength)
            return false;
        const int slot = SlotOf(body.substr(at, id));
        if (slot >= 0 && (slots & 1u << slot) != 0 && (found.seen & 1u << slot) == 0) {
            found.seen |= 1u << slot;
            const unsigned format = version == 2 ? 0 : static_cast<unsigned char>(body[at + 9]);
            if (!FrameData(version, tagUnsynchronised, format, body.substr(at + headerLength, size),
                           found.own[slot], found.data[slot]))
                found.data[slot] = std::string_view();
        }
        at += headerLength + size;
    }
    return true;
}

// TagLib keeps UTF-16 units; its own conversion gives up on the whole text
// at a lone surrogate, which stands for nothing: here it becomes U+FFFD,
// which the name filter drops.
void Utf8Into(const TagLib::String& text, std::string& out)
{
    out.clear();
    for (auto it = text.begin(); it != text.end(); ++it) {
        const auto unit = static_cast<char32_t>(*it);
        if (unit >= 0xD800 && unit < 0xDC00 && it + 1 != text.end()
            && static_cast<char32_t>(it[1]) >= 0xDC00 && static_cast<char32_t>(it[1]) < 0xE000) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(it[1]) - 0xDC00));
            ++it;
        } else {
            AppendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? char32_t(0xFFFD) : unit);
        }
    }
}

// A text frame's first value, as UTF-8: a frame may hold several, split by
// zero bytes (2.4), and 2.3 ends its text at the first zero byte; the first
// is what both give. Encodings 0 Latin-1, 1 UTF-16 with a byte-order mark,
// 2 UTF-16 big-endian, 3 UTF-8 (2.4's; taken in any version, as writers use
// them); any other byte is no known encoding and gives no text.
void FirstValueInto(std::string_view data, std::string& out)
{
    out.clear();
    if (data.empty())
        return;
    const char encoding = data[0];
    data.remove_prefix(1);
    if (encoding == 0 || encoding == 3) {
        data = data.substr(0, data.find('\0'));
        if (std::all_of(data.begin(), data.end(), [](char c) { return c > 0 && c < 0x7F; })) {
            out.assign(data);   // ASCII, the same in both
            return;
        }
        if (encoding == 0) {
            for (const char c : data)
                AppendUtf8(out, static_cast<unsigned char>(c));
            return;
        }
    } else if (encoding == 1 || encoding == 2) {
        std::size_t end = 0;
        while (end + 1 < data.size() && (data[end] != '\0' || data[end + 1] != '\0'))
            end += 2;
        data = data.substr(0, end);
    } else {
        return;
    }
    const TagLib::String::Type type = encoding == 1   ? TagLib::String::UTF16
                                      : encoding == 2 ? TagLib::String::UTF16BE
                                                      : TagLib::String::UTF8;
    Utf8Into(TagLib::String(TagLib::ByteVector(data.data(), static_cast<unsigned>(data.size())), type), out);
}

// The number a text starts with (blanks and a sign before it allowed), as
// the C library reads it; 0 for none.
long LeadingNumber(const std::string& text)
{
    return std::strtol(text.c_str(), nullptr, 10);
}

// The genre a TCON text names first. References to the genre list come
// first, in parentheses, "(17)" or several "(51)(39)"; RX stands for Remix,
// CR for Cover; text after them refines them (the reference still names
// the genre), and on its own is the genre; "((" begins a text with "(".
// 2.4 writes a number, RX or CR with no parentheses. A number the list does
// not hold names nothing and the next reference is taken.
std::string GenreOf(const std::string& text)
{
    const auto isReference = [](std::string_view id) {
        return id == "RX" || id == "CR"
               || (!id.empty() && id.size() <= 3
                   && std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; }));
    };
    const auto named = [](std::string_view id) -> const char* {
        return id == "RX" ? "Remix" : id == "CR" ? "Cover" : Id3v2GenreName(std::atoi(std::string(id).c_str()));
    };
    std::size_t at = 0;
    while (at < text.size() && text[at] == '(') {
        if (at + 1 < text.size() && text[at + 1] == '(')
            return text.substr(at + 1);   // "((": a text beginning with "("
        const std::size_t close = text.find(')', at);
        const std::string_view id =
            close == std::string::npos ? std::string_view() : std::string_view(text).substr(at + 1, close - at - 1);
        if (!isReference(id))
            break;   // "(Live) Rock": a text
        if (const char* name = named(id))
            return name;
        at = close + 1;
    }
    const std::string_view rest = std::string_view(text).substr(at);
    if (isReference(rest)) {
        const char* name = named(rest);
        return name != nullptr ? name : std::string();
    }
    return std::string(rest);
}

void Clear(SongFields& texts)
{
    for (std::string* text : {&texts.title, &texts.artist, &texts.album, &texts.year, &texts.track, &texts.genre})
        text->clear();
}

// The texts of wanted fields from the frames found.
void TextsOf(const FoundFrames& found, unsigned wanted, SongFields& texts)
{
    if ((wanted & kFieldTitle) != 0)
        FirstValueInto(found.data[kTitle], texts.title);
    if ((wanted & kFieldArtist) != 0)
        FirstValueInto(found.data[kArtist], texts.artist);
    if ((wanted & kFieldAlbum) != 0)
        FirstValueInto(found.data[kAlbum], texts.album);
    std::string text;
    if ((wanted & kFieldYear) != 0) {
        // A date's year is its first four characters. 2.3's TYER counts
        // where there is no TDRC, in 2.4 too.
        FirstValueInto(found.data[(found.seen & 1u << kRecorded) != 0 ? kRecorded : kYear], text);
        const long year = LeadingNumber(text.substr(0, 4));
        if (year >= 1 && year <= 9999)
            texts.year = std::to_string(year);
    }
    if ((wanted & kFieldTrack) != 0) {
        FirstValueInto(found.data[kTrack], text);
        const long track = LeadingNumber(text);   // "3/12" is track 3
        if (track >= 1 && track <= 999999) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%02ld", track);
            texts.track = digits;
        }
    }
    if ((wanted & kFieldGenre) != 0) {
        FirstValueInto(found.data[kGenre], text);
        texts.genre = GenreOf(text);
    }
}

// Buffers for every file, the frames found pointing into them; a big tag's
// room is given back after it.
thread_local std::string t_bytes, t_resynchronised;
thread_local FoundFrames t_found;

// The frames of the tag with this header, in body (all of it, or its first
// part: partial); false where a part does not settle every wanted field.
bool FindInTag(const std::string& header, std::string_view body, bool partial, unsigned slots, FoundFrames& found)
{
    const char version = header[3];
    const auto flags = static_cast<unsigned char>(header[5]);
    // 2.2's compression was never defined: such a tag cannot be read.
    if (version == 2 && (flags & 0x40) != 0)
        return true;
    // 2.2 and 2.3 unsynchronise the whole tag, extended header included;
    // 2.4 each frame, undone in FrameData.
    std::string& plain = t_resynchronised;
    if (version != 4 && (flags & 0x80) != 0) {
        Resynchronise(body, plain);
        body = plain;
    }
    if (version != 2 && (flags & 0x40) != 0) {
        // The extended header holds nothing a name needs: passed by its size,
        // in 2.3 leaving out its own four bytes.
        if (body.size() < 4 || (version == 4 && !IsSyncSafe(body, 0)))
            return !partial;
        const std::size_t size = version == 3 ? 4 + std::size_t(BigEndian(body, 0, 4)) : SyncSafe(body, 0);
        if (size < 6 || size > body.size())
            return !partial;
        body.remove_prefix(size);
    }
    return FindFrames(version, version == 4 && (flags & 0x80) != 0, body, partial, slots, found) || !partial;
}

void Release(std::string& buffer)
{
    if (buffer.capacity() > 2 * kFirstRead)
        std::string().swap(buffer);
}

} // namespace

int ReadId3v2Texts(int fd, long long size, unsigned wanted, SongFields& texts)
{
    static CSilent silent;
    static const bool quiet = (TagLib::setDebugListener(&silent), true);
    (void)quiet;
    Clear(texts);
    if (size < static_cast<long long>(kHeaderSize))
        return 0;
    std::string& bytes = t_bytes;
    FoundFrames& found = t_found;
    struct Shrink
    {
        ~Shrink()
        {
            for (std::string* buffer : {&t_bytes, &t_resynchronised})
                Release(*buffer);
            for (std::string& own : t_found.own)
                Release(own);
        }
    } shrink;
    bytes.resize(static_cast<std::size_t>(std::min<long long>(size, kFirstRead)));
    if (!ReadAt(fd, &bytes[0], bytes.size(), 0))
        return -1;
    const std::string headerBytes = bytes.substr(0, kHeaderSize);
    // A size byte of 0x80 or more breaks the header.
    const auto byte = [&headerBytes](std::size_t i) { return static_cast<unsigned char>(headerBytes[i]); };
    if (headerBytes.compare(0, 3, "ID3") != 0 || byte(3) < 2 || byte(3) > 4 || !IsSyncSafe(headerBytes, 6))
        return 0;
    const std::size_t tagSize = SyncSafe(headerBytes, 6);
    if (tagSize == 0)
        return 0;
    // A 2.4 footer follows the size given: nothing to take off.
    const std::size_t whole = std::min({tagSize, static_cast<std::size_t>(size) - kHeaderSize, kMaxTag});
    const std::size_t have = std::min(whole, bytes.size() - kHeaderSize);
    const unsigned slots = SlotsOf(wanted);
    found.seen = 0;
    if (!FindInTag(headerBytes, std::string_view(bytes).substr(kHeaderSize, have), have < whole, slots, found)) {
        bytes.resize(kHeaderSize + whole);
        if (!ReadAt(fd, &bytes[kHeaderSize + have], whole - have, static_cast<long long>(kHeaderSize + have)))
            return -1;
        found.seen = 0;
        FindInTag(headerBytes, std::string_view(bytes).substr(kHeaderSize, whole), false, slots, found);
    }
    for (unsigned slot = 0; slot < kSlots; ++slot) {
        if ((found.seen & 1u << slot) == 0)
            found.data[slot] = std::string_view();
    }
    TextsOf(found, wanted, texts);
    return 1;
}
