// SPDX-License-Identifier: GPL-3.0-or-later
// ID3v2 tags built byte by byte for the tests.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

// ID3v2 laid out byte by byte, so that the tests do not trust the library
// they check. Sizes: 28 bits in four 7-bit bytes in the tag header (and the
// frames of 2.4), plain big-endian in the frames of 2.2 (3 bytes) and 2.3.
inline std::string SyncSafe(std::size_t n)
{
    return {static_cast<char>(n >> 21 & 0x7F), static_cast<char>(n >> 14 & 0x7F),
            static_cast<char>(n >> 7 & 0x7F), static_cast<char>(n & 0x7F)};
}

inline std::string Frame(int version, const std::string& id, const std::string& data, char formatFlags = 0)
{
    const std::size_t n = data.size();
    if (version == 2)
        return id + std::string{static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)} + data;
    const std::string size = version == 4 ? SyncSafe(n)
                                          : std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                                                        static_cast<char>(n >> 8), static_cast<char>(n)};
    return id + size + '\0' + formatFlags + data;
}

inline std::string Id3v2(int version, const std::string& body, char flags = 0)
{
    return "ID3" + std::string{static_cast<char>(version), '\0', flags} + SyncSafe(body.size()) + body;
}

// Encoding byte 0: ISO-8859-1.
inline std::string Latin1(const std::string& text)
{
    return '\0' + text;
}

// Encoding byte 1: UTF-16 with a byte-order mark (little-endian here).
inline std::string Utf16(const std::u16string& text)
{
    std::string bytes = "\x01\xFF\xFE";
    for (const char16_t unit : text)
        bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

// An 0xFF followed by 0xE0 or more, or by a zero byte, gets a zero byte after it.
inline std::string Unsynchronised(const std::string& bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out += bytes[i];
        if (bytes[i] == '\xFF' && (i + 1 == bytes.size() || static_cast<unsigned char>(bytes[i + 1]) >= 0xE0
                                   || bytes[i + 1] == '\0'))
            out += '\0';
    }
    return out;
}

// zlib's stream of data, as a compressed frame holds it.
inline std::string Deflated(const std::string& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
             static_cast<uLong>(data.size()));
    out.resize(size);
    return out;
}

// A zlib stream of about 1 MiB that inflates to mebibytes MiB of zero bytes:
// each MiB deflated after a full flush comes out the same, so one is
// repeated; the checksum at the end is the whole stream's.
inline std::string ZeroBomb(unsigned mebibytes)
{
    const std::string chunk(std::size_t(1) << 20, '\0');
    z_stream z{};
    deflateInit(&z, 9);
    const auto deflateChunk = [&z](const std::string& in, int flush) {
        std::string out;
        char buffer[1 << 16];
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
        return out;
    };
    std::string bomb = deflateChunk(chunk, Z_FULL_FLUSH);
    const std::string next = deflateChunk(chunk, Z_FULL_FLUSH);
    for (unsigned i = 2; i < mebibytes; ++i)
        bomb += next;
    bomb += next;
    std::string end = deflateChunk(std::string(), Z_FINISH);
    deflateEnd(&z);
    const uLong one = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(chunk.data()),
                              static_cast<uInt>(chunk.size()));
    uLong sum = one;
    for (unsigned i = 1; i < mebibytes; ++i)
        sum = adler32_combine(sum, one, static_cast<z_off_t>(chunk.size()));
    end.resize(end.size() - 4);
    for (int shift = 24; shift >= 0; shift -= 8)
        end += static_cast<char>(sum >> shift & 0xFF);
    return bomb + end;
}

// depth CHAP frames of a 2.4 tag, each inside the one before, the innermost
// holding inner: built outside in, as a recursive reader would walk them.
inline std::string NestedChapters(int depth, const std::string& inner = std::string())
{
    const std::string fields("c\0\0\0\0\0\0\0\0\x10\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 18);
    const std::size_t each = 10 + fields.size();
    std::string bytes;
    bytes.reserve(each * static_cast<std::size_t>(depth) + inner.size());
    for (int i = 0; i < depth; ++i) {
        const std::size_t size = each * static_cast<std::size_t>(depth - i) - 10 + inner.size();
        bytes += "CHAP" + SyncSafe(size) + std::string(2, '\0') + fields;
    }
    return bytes + inner;
}
