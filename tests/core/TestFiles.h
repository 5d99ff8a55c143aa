// SPDX-License-Identifier: GPL-3.0-or-later
// Temporary folders and file helpers for the core tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ftw.h>
#include <iterator>
#include <algorithm>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

// A fresh folder under $TMPDIR (or /tmp), removed with its content at the end.
class TempDir
{
public:
    TempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavoly-core-XXXXXX";
        if (mkdtemp(&pattern[0]) != nullptr)
            m_path = pattern;
    }
    ~TempDir()
    {
        if (!m_path.empty())
            nftw(m_path.c_str(), [](const char* p, const struct stat*, int, FTW*) {
                return std::remove(p), 0; }, 16, FTW_DEPTH | FTW_PHYS);
    }
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::remove(path.c_str());   // a new file: truncating one makes ext4 flush it on close
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Bytes that look like audio and hold no "TAG".
inline std::string Audio(std::size_t length)
{
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((i * 7 + 1) % 251);
    return bytes;
}

// A text padded with zero bytes (or cut) to a field's length.
inline std::string Padded(const std::string& text, std::size_t length = 30)
{
    std::string field = text.substr(0, length);
    field.resize(length, '\0');
    return field;
}

// A 128-byte record built by hand, independent of the code under test.
inline std::string Record(const std::string& title, const std::string& artist = "",
                          const std::string& comment = "", unsigned char genre = 255)
{
    return "TAG" + Padded(title) + Padded(artist) + Padded("Album") + "1999" + Padded(comment)
           + std::string(1, static_cast<char>(genre));
}

// levels nested folders "d" under root; the deepest one's path.
inline std::string MakeDeepFolders(const std::string& root, int levels)
{
    std::string deep = root;
    for (int i = 0; i < levels; ++i) {
        deep += "/d";
        mkdir(deep.c_str(), 0755);
    }
    return deep;
}

// At most 1024 open descriptors while it lives: what depth may not cost.
class ScopedDescriptorLimit
{
public:
    ScopedDescriptorLimit()
    {
        getrlimit(RLIMIT_NOFILE, &m_old);
        rlimit low = m_old;
        low.rlim_cur = std::min<rlim_t>(1024, m_old.rlim_max);
        m_set = setrlimit(RLIMIT_NOFILE, &low) == 0;
    }
    ~ScopedDescriptorLimit() { setrlimit(RLIMIT_NOFILE, &m_old); }
    bool Set() const { return m_set; }

private:
    rlimit m_old{};
    bool m_set = false;
};

// CRC-32C bit by bit, as the journal's format names it (RFC 3720), apart
// from the code under test.
inline std::uint32_t Crc32c(const std::string& bytes)
{
    std::uint32_t crc = ~0u;
    for (const unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
    }
    return ~crc;
}
