// SPDX-License-Identifier: GPL-3.0-or-later
#include "naming/Id3v2Texts.h"

#include "core/TagFile.h"
#include "core/TextCodec.h"
#include "platform/FileSystem.h"

#include <id3v2header.h>
#include <id3v2synchdata.h>
#include <id3v2tag.h>
#include <tbytevector.h>
#include <tdebuglistener.h>
#include <textidentificationframe.h>
#include <tstring.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kFirstRead = 4096;
// A stranger's tag may declare 256 MiB, or be a million empty frames, each
// one an object in TagLib: what is read and parsed stays within this.
constexpr std::size_t kMaxTag = std::size_t(1) << 20;

// A TagLib built for debugging reports every oddity of a tag on stderr,
// which is our output.
class CSilent : public TagLib::DebugListener
{
public:
    void printMessage(const TagLib::String&) override {}
};

// TagLib parses a tag out of a file; this one is parsed from bytes in memory.
class CTagOfBytes : public TagLib::ID3v2::Tag
{
public:
    CTagOfBytes(const std::string& header, std::string_view body)
    {
        this->header()->setData(TagLib::ByteVector(header.data(), static_cast<unsigned>(header.size())));
        // TagLib's frame loop needs room for a frame header.
        if (body.size() > kHeaderSize)
            parse(TagLib::ByteVector(body.data(), static_cast<unsigned>(body.size())));
    }
};

// TagLib 1.13 skips an extended header by the size it reads as 2.4 gives it:
// a 2.3 tag (whose size leaves out its own four bytes) then shows no frames,
// and a 2.4 tag may lose its last frame. The header holds nothing a name
// needs, so it goes before TagLib sees the tag; in 2.3 after undoing the
// unsynchronisation, which covers it there.
void DropExtendedHeader(std::string& header, std::string& body)
{
    const char version = header[3];
    auto flags = static_cast<unsigned char>(header[5]);
    if ((version != 3 && version != 4) || (flags & 0x40) == 0)
        return;
    if (version == 3 && (flags & 0x80) != 0) {
        const TagLib::ByteVector plain =
            TagLib::ID3v2::SynchData::decode(TagLib::ByteVector(body.data(), static_cast<unsigned>(body.size())));
        body.assign(plain.data(), plain.size());
        flags &= 0x7F;
    }
    const auto byte = [&body](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(body[i])); };
    const std::uint64_t size = body.size() < 4 ? 0
                               : version == 3 ? 4 + std::uint64_t(byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3))
                                              : (byte(0) & 0x7F) << 21 | (byte(1) & 0x7F) << 14 | (byte(2) & 0x7F) << 7 | (byte(3) & 0x7F);
    if (size >= 6 && size <= body.size()) {
        body.erase(0, static_cast<std::size_t>(size));
        flags &= 0xBF;
    }
    header[5] = static_cast<char>(flags);
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

std::string Utf8(const TagLib::String& text)
{
    std::string out;
    Utf8Into(text, out);
    return out;
}

// The first genre of the tag: an ID3v1 genre number by the window's list.
std::string GenreOf(const TagLib::ID3v2::Tag& tag)
{
    const TagLib::ID3v2::FrameList& frames = tag.frameList("TCON");
    const auto* frame = frames.isEmpty() ? nullptr
                                         : dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frames.front());
    if (frame == nullptr)
        return std::string();
    for (const TagLib::String& field : frame->fieldList()) {
        if (field.isEmpty())
            continue;
        bool number = false;
        const int index = field.toInt(&number);
        if (!number)
            return Utf8(field);
        if (const char* name = GenreName(index))
            return name;
    }
    return std::string();
}

void Clear(SongFields& texts)
{
    for (std::string* text : {&texts.title, &texts.artist, &texts.album, &texts.year, &texts.track, &texts.genre})
        text->clear();
}

bool IsFrameIdByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsFrameIdAt(std::string_view body, std::size_t at)
{
    return at <= body.size() && body.size() - at >= 4 && IsFrameIdByte(body[at]) && IsFrameIdByte(body[at + 1])
           && IsFrameIdByte(body[at + 2]) && IsFrameIdByte(body[at + 3]);
}

// Whether the frame with this id gives a field of wanted: 2.3 dates come
// together as TDRC, which year reads.
bool FrameWanted(std::string_view id, unsigned wanted)
{
    return ((wanted & kFieldTitle) != 0 && id == "TIT2") || ((wanted & kFieldArtist) != 0 && id == "TPE1")
           || ((wanted & kFieldAlbum) != 0 && id == "TALB")
           || ((wanted & kFieldYear) != 0 && (id == "TDRC" || id == "TYER" || id == "TDAT" || id == "TIME"))
           || ((wanted & kFieldTrack) != 0 && id == "TRCK") || ((wanted & kFieldGenre) != 0 && id == "TCON");
}

// TagLib builds an object for every frame, pictures too. Where the frames
// are plain (2.3 or 2.4, no flags, sizes read one way) only those a wanted
// field comes from are kept, in order, for TagLib to see the same texts in
// them: false, with nothing kept, on anything else.
bool KeepWantedFrames(const std::string& header, std::string_view body, unsigned wanted, std::string& kept)
{
    kept.clear();
    const char version = header[3];
    if ((version != 3 && version != 4) || (static_cast<unsigned char>(header[5]) & 0xD0) != 0
        || body.size() <= kHeaderSize)
        return false;
    const std::size_t n = body.size();
    // As TagLib's loop: a frame starts before the last frame header's room.
    for (std::size_t at = 0; at < n - kHeaderSize && body[at] != '\0';) {
        if (!IsFrameIdAt(body, at) || body[at + 8] != '\0' || body[at + 9] != '\0')
            return false;
        const auto byte = [&body, at](std::size_t i) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(body[at + 4 + i]));
        };
        std::size_t size = 0;
        if (version == 3) {
            size = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
        } else {
            if ((byte(0) | byte(1) | byte(2) | byte(3)) & 0x80)
                return false;
            size = byte(0) << 21 | byte(1) << 14 | byte(2) << 7 | byte(3);
            // TagLib reads a long 2.4 frame's size as 2.3's where that leads
            // to the next frame; only where it leads nowhere else is it plain.
            if (size > 127 && !IsFrameIdAt(body, at + kHeaderSize + size))
                return false;
        }
        if (size == 0 || size > n - at)
            return false;
        const std::size_t length = std::min(n - at, kHeaderSize + size);
        if (FrameWanted(body.substr(at, 4), wanted))
            kept.append(body.data() + at, length);
        at += kHeaderSize + size;
    }
    return true;
}

// A text frame's text when it is plain: Latin-1 or UTF-8, printable ASCII
// up to its closing zero bytes, which TagLib reads as it is.
bool PlainText(std::string_view data, std::string& text)
{
    if (data.empty() || (data[0] != '\0' && data[0] != '\x03'))
        return false;
    data.remove_prefix(1);
    while (!data.empty() && data.back() == '\0')
        data.remove_suffix(1);
    for (const char c : data) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    text.assign(data);
    return true;
}

// Title, artist and album straight from the kept frames of a version 3 or 4
// tag, where each one's first frame is whole and plain; false for TagLib.
bool PlainTextsOf(char version, std::string_view kept, unsigned wanted, SongFields& texts)
{
    if ((wanted & ~unsigned(kFieldTitle | kFieldArtist | kFieldAlbum)) != 0)
        return false;
    unsigned seen = 0;
    for (std::size_t at = 0; at + kHeaderSize <= kept.size();) {
        const auto byte = [&kept, at](std::size_t i) {
            return static_cast<std::size_t>(static_cast<unsigned char>(kept[at + 4 + i]));
        };
        const std::size_t size = version == 3 ? byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3)
                                              : byte(0) << 21 | byte(1) << 14 | byte(2) << 7 | byte(3);
        const std::string_view id = kept.substr(at, 4);
        const unsigned field = id == "TIT2" ? kFieldTitle : id == "TPE1" ? kFieldArtist : kFieldAlbum;
        if ((seen & field) == 0) {
            if (size > kept.size() - at - kHeaderSize)
                return false;   // cut off by the end of what was read
            std::string& text = field == kFieldTitle ? texts.title : field == kFieldArtist ? texts.artist : texts.album;
            if (!PlainText(kept.substr(at + kHeaderSize, size), text))
                return false;
            seen |= field;
        }
        at += kHeaderSize + size;
    }
    return true;
}

// The tag's texts of wanted fields, parsed by TagLib from the tag's header
// and its bytes; the other fields stay empty.
void TextsOf(std::string header, std::string_view body, unsigned wanted, SongFields& texts)
{
    std::string plain;
    if ((static_cast<unsigned char>(header[5]) & 0x40) != 0) {
        plain.assign(body);
        DropExtendedHeader(header, plain);
        body = plain;
    }
    thread_local std::string kept;
    const bool fewer = KeepWantedFrames(header, body, wanted, kept);
    if (fewer && PlainTextsOf(header[3], kept, wanted, texts))
        return;
    Clear(texts);   // what plain frames gave before one was not
    const CTagOfBytes tag(header, fewer ? std::string_view(kept) : body);
    if (kept.capacity() > kFirstRead)
        std::string().swap(kept);
    if ((wanted & kFieldTitle) != 0)
        Utf8Into(tag.title(), texts.title);
    if ((wanted & kFieldArtist) != 0)
        Utf8Into(tag.artist(), texts.artist);
    if ((wanted & kFieldAlbum) != 0)
        Utf8Into(tag.album(), texts.album);
    // Both come back as unsigned: a negative text wraps to a huge number.
    const unsigned year = (wanted & kFieldYear) != 0 ? tag.year() : 0;
    if (year >= 1 && year <= 9999)
        texts.year = std::to_string(year);
    const unsigned track = (wanted & kFieldTrack) != 0 ? tag.track() : 0;
    if (track >= 1 && track <= 999999) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%02u", track);
        texts.track = digits;
    }
    if ((wanted & kFieldGenre) != 0)
        texts.genre = GenreOf(tag);
}


bool HasAll(const SongFields& texts, unsigned wanted)
{
    const std::pair<unsigned, const std::string*> fields[] = {
        {kFieldTitle, &texts.title}, {kFieldArtist, &texts.artist}, {kFieldAlbum, &texts.album},
        {kFieldYear, &texts.year},   {kFieldTrack, &texts.track},   {kFieldGenre, &texts.genre},
    };
    return std::all_of(std::begin(fields), std::end(fields), [wanted](const auto& field) {
        return (wanted & field.first) == 0 || !field.second->empty();
    });
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
    // One buffer for every file; a big tag's room is given back after it.
    thread_local std::string bytes;
    struct Shrink
    {
        ~Shrink()
        {
            if (bytes.capacity() > 2 * kFirstRead)
                std::string().swap(bytes);
        }
    } shrink;
    bytes.resize(static_cast<std::size_t>(std::min<long long>(size, kFirstRead)));
    if (!ReadAt(fd, &bytes[0], bytes.size(), 0))
        return -1;
    const std::string headerBytes = bytes.substr(0, kHeaderSize);
    // As TagLib reads the header: a size byte of 0x80 or more breaks it.
    const auto byte = [&headerBytes](std::size_t i) { return static_cast<unsigned char>(headerBytes[i]); };
    if (headerBytes.compare(0, 3, "ID3") != 0 || byte(3) < 2 || byte(3) > 4
        || ((byte(6) | byte(7) | byte(8) | byte(9)) & 0x80) != 0)
        return 0;
    const std::size_t tagSize = std::size_t(byte(6)) << 21 | std::size_t(byte(7)) << 14 | std::size_t(byte(8)) << 7
                                | byte(9);
    if (tagSize == 0)
        return 0;
    const std::size_t whole = std::min({tagSize,
                                        static_cast<std::size_t>(size) - kHeaderSize, kMaxTag});
    const std::size_t have = std::min(whole, bytes.size() - kHeaderSize);
    TextsOf(headerBytes, std::string_view(bytes).substr(kHeaderSize, have), wanted, texts);
    // Frames come whole or not at all from a part: a field found there is
    // the one the whole tag gives.
    if (have < whole && !HasAll(texts, wanted)) {
        bytes.resize(kHeaderSize + whole);
        if (!ReadAt(fd, &bytes[kHeaderSize + have], whole - have, static_cast<long long>(kHeaderSize + have)))
            return -1;
        Clear(texts);
        TextsOf(headerBytes, std::string_view(bytes).substr(kHeaderSize, whole), wanted, texts);
    }
    return 1;
}
