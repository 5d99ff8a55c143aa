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

int ReadModeByte(const std::string& path)
{
    int mode = 1;
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0)
        return mode;
    char byte = 0;
    ssize_t n;
    do
        n = pread(fd, &byte, 1, kSettingsOffset);
    while (n < 0 && errno == EINTR);
    if (n == 1 && byte == '0')
        mode = 0;
    close(fd);
    return mode;
}

int WriteModeByte(const std::string& path, int withArtist)
{
    const int fd = OpenRegularFile(path, O_WRONLY);
    if (fd < 0)
        return 0;
    const char byte = withArtist ? '1' : '0';
    ssize_t n;
    do
        n = pwrite(fd, &byte, 1, kSettingsOffset);
    while (n < 0 && errno == EINTR);
    const bool closed = close(fd) == 0;
    return n == 1 && closed ? 1 : 0;
}
