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
    CTagOfBytes(const std::string& header, const std::string& body)
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
std::string Utf8(const TagLib::String& text)
{
    std::string out;
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

// The tag's texts, parsed by TagLib from the tag's header and its bytes.
SongFields TextsOf(std::string header, std::string body)
{
    DropExtendedHeader(header, body);
    const CTagOfBytes tag(header, body);
    SongFields texts;
    texts.title = Utf8(tag.title());
    texts.artist = Utf8(tag.artist());
    texts.album = Utf8(tag.album());
    // Both come back as unsigned: a negative text wraps to a huge number.
    const unsigned year = tag.year();
    if (year >= 1 && year <= 9999)
        texts.year = std::to_string(year);
    const unsigned track = tag.track();
    if (track >= 1 && track <= 999999) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%02u", track);
        texts.track = digits;
    }
    texts.genre = GenreOf(tag);
    return texts;
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
    texts = SongFields();
    if (size < static_cast<long long>(kHeaderSize))
        return 0;
    std::string bytes(static_cast<std::size_t>(std::min<long long>(size, kFirstRead)), '\0');
    if (!ReadAt(fd, &bytes[0], bytes.size(), 0))
        return -1;
    const std::string headerBytes = bytes.substr(0, kHeaderSize);
    const TagLib::ID3v2::Header header(TagLib::ByteVector(headerBytes.data(), kHeaderSize));
    // TagLib gives a broken header (a size byte of 0x80 or more) size 0.
    if (headerBytes.compare(0, 3, "ID3") != 0 || header.majorVersion() < 2 || header.majorVersion() > 4
        || header.tagSize() == 0)
        return 0;
    const std::size_t whole = std::min({static_cast<std::size_t>(header.tagSize()),
                                        static_cast<std::size_t>(size) - kHeaderSize, kMaxTag});
    std::string body = bytes.substr(kHeaderSize, whole);
    texts = TextsOf(headerBytes, body);
    // Frames come whole or not at all from a part: a field found there is
    // the one the whole tag gives.
    if (body.size() < whole && !HasAll(texts, wanted)) {
        const std::size_t have = body.size();
        body.resize(whole);
        if (!ReadAt(fd, &body[have], whole - have, static_cast<long long>(kHeaderSize + have)))
            return -1;
        texts = TextsOf(headerBytes, body);
    }
    return 1;
}
