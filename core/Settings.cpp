// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Settings.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens path without creating or truncating it. Only a regular file counts:
// a FIFO or a device under that name is neither waited on nor written to.
int OpenRegularFile(const std::string& path, int flags)
{
    if (!IsUsablePath(path))
        return -1;
    const int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::string SettingsFilePath()
{
    const std::string folder = ProgramDirectory();
    return folder.empty() ? std::string() : folder + "Vov/Vov.dat";
}

namespace {

// The byte at offset of the file open on fd: 1 read, 0 past the end or
// unreadable.
int ReadByteAt(int fd, long offset, char& byte)
{
    ssize_t n;
    do
        n = pread(fd, &byte, 1, offset);
    while (n < 0 && errno == EINTR);
    return n == 1 ? 1 : 0;
}

int WriteByteAt(int fd, long offset, char byte)
{
    ssize_t n;
    do
        n = pwrite(fd, &byte, 1, offset);
    while (n < 0 && errno == EINTR);
    return n == 1 ? 1 : 0;
}

} // namespace

int ReadModeByte(const std::string& path)
{
    int mode = 1;
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0)
        return mode;
    char byte = 0;
    if (ReadByteAt(fd, kSettingsOffset, byte) == 1 && byte == '0')
        mode = 0;
    close(fd);
    return mode;
}

int WriteModeByte(const std::string& path, int withArtist)
{
    const int fd = OpenRegularFile(path, O_WRONLY);
    if (fd < 0)
        return 0;
    const int written = WriteByteAt(fd, kSettingsOffset, withArtist ? '1' : '0');
    const bool closed = close(fd) == 0;
    return written == 1 && closed ? 1 : 0;
}

int ReadTagSourceByte(const std::string& path)
{
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0)
        return 0;
    char byte = 0;
    const int fromId3v2 = ReadByteAt(fd, kTagSourceOffset, byte) == 1 && byte == '1' ? 1 : 0;
    close(fd);
    return fromId3v2;
}

int WriteTagSourceByte(const std::string& path, int fromId3v2)
{
    const int fd = OpenRegularFile(path, O_RDWR);
    if (fd < 0)
        return 0;
    char byte = 0;
    const bool saysId3v2 = ReadByteAt(fd, kTagSourceOffset, byte) == 1 && byte == '1';
    int written = 1;
    if (saysId3v2 != (fromId3v2 != 0))
        written = WriteByteAt(fd, kTagSourceOffset, fromId3v2 ? '1' : '0');
    const bool closed = close(fd) == 0;
    return written == 1 && closed ? 1 : 0;
}
