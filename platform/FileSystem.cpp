// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

// The '/' before the last component; a '/' at the very end does not count.
std::size_t LastSlash(const std::string& path)
{
    if (path.size() < 2)
        return std::string::npos;
    return path.rfind('/', path.size() - 2);
}

void SplitPath(const std::string& path, std::string& folder, std::string& name)
{
    const std::size_t slash = LastSlash(path);
    if (slash == std::string::npos) {
        folder.clear();
        name = path;
    } else {
        folder = path.substr(0, slash + 1);
        name = path.substr(slash + 1);
    }
}

int RenameNoReplaceCall(int dir, const char* from, const char* to)
{
#ifdef SYS_renameat2
    return static_cast<int>(syscall(SYS_renameat2, dir, from, dir, to, RENAME_NOREPLACE));
#else
    errno = ENOSYS;
    return -1;
#endif
}

// One move that never replaces: renameat2 with RENAME_NOREPLACE, or, where the
// kernel or the file system refuses that flag, a hard link and an unlink.
int MoveOnce(int dir, const std::string& from, const std::string& to)
{
    if (RenameNoReplaceCall(dir, from.c_str(), to.c_str()) == 0)
        return 1;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return 0;
    if (linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0)
        return 0;
    if (unlinkat(dir, from.c_str(), 0) != 0) {
        const int err = errno;
        // Leave only the old name, as before; failing that, the file has
        // two names, which an undo sees and mends (nothing is lost).
        (void)unlinkat(dir, to.c_str(), 0);
        errno = err;
        return 0;
    }
    return 1;
}

// The target name exists. Succeeds only when both names are the very same
// directory entry: the same name spelled another way (nothing to do), or a
// name differing in letter case on a case-insensitive file system, which
// needs a detour through a temporary name since the target "exists".
int MoveOntoSameEntry(int dir, const std::string& from, const std::string& to)
{
    struct stat a, b;
    if (fstatat(dir, from.c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0
        || fstatat(dir, to.c_str(), &b, AT_SYMLINK_NOFOLLOW) != 0
        || a.st_dev != b.st_dev || a.st_ino != b.st_ino
        || a.st_nlink != 1 || S_ISDIR(a.st_mode)) {
        errno = EEXIST;   // a different file (or a second hard link) is there
        return 0;
    }
    std::string fromFolder, fromName, toFolder, toName;
    SplitPath(from, fromFolder, fromName);
    SplitPath(to, toFolder, toName);
    if (fromName == toName)
        return 1;
    if (fromFolder != toFolder) {
        errno = EEXIST;
        return 0;
    }
    std::string temp;
    for (int i = 0;; ++i) {
        if (i == 1000) {
            errno = EEXIST;
            return 0;
        }
        temp = fromFolder + fromName + ".tavoly-" + std::to_string(getpid()) + "-"
               + std::to_string(i);
        if (MoveOnce(dir, from, temp))
            break;
        if (errno != EEXIST)
            return 0;
    }
    if (MoveOnce(dir, temp, to))
        return 1;
    const int err = errno;
    MoveOnce(dir, temp, from);
    errno = err;
    return 0;
}

} // namespace

bool HasMp3Suffix(const char* name, std::size_t length)
{
    if (length < 4)
        return false;
    const char* s = name + length - 4;
    return s[0] == '.' && (s[1] | 0x20) == 'm' && (s[2] | 0x20) == 'p' && s[3] == '3';
}

bool IsUsablePath(const std::string& path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

std::string PathInSameFolder(const std::string& path, const std::string& name)
{
    const std::size_t slash = LastSlash(path);
    if (slash == std::string::npos)
        return name;
    return path.substr(0, slash) + "/" + name;
}

int MoveNoReplace(const std::string& from, const std::string& to)
{
    return MoveNoReplaceAt(AT_FDCWD, from, to);
}

int MoveNoReplaceAt(int folder, const std::string& from, const std::string& to)
{
    if (!IsUsablePath(from) || !IsUsablePath(to)) {
        errno = EINVAL;
        return 0;
    }
    if (from == to) {
        struct stat st;
        return fstatat(folder, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 1 : 0;
    }
    if (MoveOnce(folder, from, to))
        return 1;
    if (errno != EEXIST)
        return 0;
    return MoveOntoSameEntry(folder, from, to);
}

bool ReadAt(int fd, void* buffer, std::size_t length, long long offset)
{
    auto* at = static_cast<char*>(buffer);
    while (length > 0) {
        const ssize_t n = pread(fd, at, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;   // the file shrank under us
            return false;
        }
        at += n;
        length -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

std::string ProgramFilePath()
{
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size());
        if (n < 0)
            return std::string();
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        if (buffer.size() >= 65536) {
            errno = ENAMETOOLONG;
            return std::string();
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string ProgramDirectory()
{
    const std::string path = ProgramFilePath();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash + 1);
}

std::string ProgramBaseName()
{
    const std::string path = ProgramFilePath();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
