// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

// When this process began. File systems stamp by a clock that is coarser
// (never ahead) or as fine: a file made before this was read has an earlier
// time.
timespec Began()
{
    timespec now{};
    (void)clock_gettime(CLOCK_REALTIME, &now);   // failing that, 1970: nothing counts as ours
    return now;
}
const timespec g_began = Began();

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

// The ways of moving without replacing, strongest first. What a file system
// takes is learnt from its answers, by device, and a move starts at the way
// its device took last; a way it refuses still falls through to the next.
enum Way : std::uint8_t { kNoReplaceFlag, kLinkUnlink, kPlaceholder };

std::mutex g_waysMutex;
std::unordered_map<std::uint64_t, Way> g_ways;

Way FirstWay(std::uint64_t device)
{
    if (device == 0)
        return kNoReplaceFlag;
    std::lock_guard<std::mutex> lock(g_waysMutex);
    const auto it = g_ways.find(device);
    return it == g_ways.end() ? kNoReplaceFlag : it->second;
}

void Remember(std::uint64_t device, Way way)
{
    if (device != 0) {
        std::lock_guard<std::mutex> lock(g_waysMutex);
        g_ways[device] = way;
    }
}

// The flag is not known to the kernel or the file system (FUSE, FAT, NFS
// before 4, CIFS): EINVAL, or ENOSYS and EOPNOTSUPP from older kernels.
bool FlagRefused(int err)
{
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// The file system keeps no hard links (FAT, exFAT, MTP, many FUSE ones).
bool LinksRefused(int err)
{
    return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EMLINK;
}

// A call that failed this way may have been done all the same: the file
// system or the share went away before it answered.
bool OutcomeUnknown(int err)
{
    return err == ECONNABORTED || err == ENOTCONN || err == EIO || err == ETIMEDOUT || err == ESTALE
           || err == ENXIO;
}

// One move that never replaces, the strongest way the file system takes:
// renameat2 with RENAME_NOREPLACE; else a hard link and an unlink; else the
// new name claimed by an exclusive create (which FUSE, NFS and SMB honour) and
// the file renamed over that empty placeholder of ours. That last way cannot
// promise what the others do against another process: one that can write
// the folder and swaps the placeholder for a file of its own in the instant
// between the create and the rename has that file replaced. The journal
// records every move before it is made, so a placeholder left by a kill is
// found by an undo (IsOurPlaceholder) and removed.
int MoveOnce(int dir, std::uint64_t device, const std::string& from, const std::string& to)
{
    const Way first = FirstWay(device);
    if (first == kNoReplaceFlag) {
        if (RenameNoReplaceCall(dir, from.c_str(), to.c_str()) == 0)
            return 1;
        if (!FlagRefused(errno))
            return OutcomeUnknown(errno) ? -1 : 0;
    }
    if (first <= kLinkUnlink) {
        if (linkat(dir, from.c_str(), dir, to.c_str(), 0) == 0) {
            if (unlinkat(dir, from.c_str(), 0) != 0) {
                const int err = errno;
                // Leave only the old name, as before; failing that, the file
                // has two names, which an undo sees and mends (nothing is lost).
                const bool one = unlinkat(dir, to.c_str(), 0) == 0;
                errno = err;
                return one ? 0 : -1;
            }
            Remember(device, kLinkUnlink);
            return 1;
        }
        if (!LinksRefused(errno))
            return OutcomeUnknown(errno) ? -1 : 0;
    }
    const int placeholder = openat(dir, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (placeholder < 0)   // taken (in any letter case where names fold), a name refused, or not known
        return OutcomeUnknown(errno) ? -1 : 0;
    struct stat made;
    const bool known = fstat(placeholder, &made) == 0;
    close(placeholder);
    if (renameat(dir, from.c_str(), dir, to.c_str()) == 0) {
        Remember(device, kPlaceholder);
        return 1;
    }
    const int err = errno;
    struct stat now;
    // Only our own placeholder goes, still empty: never another file.
    const bool gone = known && fstatat(dir, to.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0
                      && now.st_ino == made.st_ino && now.st_dev == made.st_dev && now.st_size == 0
                      && unlinkat(dir, to.c_str(), 0) == 0;
    errno = err;
    return gone ? 0 : -1;   // left: an undo of the move's record removes it
}

// Whether to, which exists, is only from spelt in other letter case on a
// file system that folds case: the two names differ in ASCII letter case
// alone and the folder holds no entry spelt exactly to. Some (exFAT through
// FUSE) give each spelling an inode number of its own, so the numbers cannot
// tell. The folder is listed only here, for a case-only rename.
bool OnlyByFolding(int dir, const std::string& folder, const std::string& from, const std::string& to)
{
    if (from.size() != to.size() || from == to)
        return false;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(from[i]), y = static_cast<unsigned char>(to[i]);
        const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(x) != lower(y))
            return false;
    }
    const int fd = openat(dir, folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd < 0 ? nullptr : fdopendir(fd);
    if (listing == nullptr) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    bool spelt = false;
    while (const dirent* entry = readdir(listing)) {
        if (to == entry->d_name) {
            spelt = true;
            break;
        }
    }
    closedir(listing);
    return !spelt;
}

// The target name exists. Succeeds only when both names are the very same
// directory entry: the same name spelled another way (nothing to do), or a
// name differing in letter case on a case-insensitive file system, which
// needs a detour through a temporary name since the target "exists".
int MoveOntoSameEntry(int dir, std::uint64_t device, const std::string& from, const std::string& to)
{
    struct stat a, b;
    std::string fromFolder, fromName, toFolder, toName;
    SplitPath(from, fromFolder, fromName);
    SplitPath(to, toFolder, toName);
    if (fstatat(dir, from.c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0
        || fstatat(dir, to.c_str(), &b, AT_SYMLINK_NOFOLLOW) != 0 || a.st_dev != b.st_dev
        || a.st_nlink != 1 || S_ISDIR(a.st_mode)
        || (a.st_ino != b.st_ino && !(fromFolder == toFolder && OnlyByFolding(dir, fromFolder, fromName, toName)))) {
        errno = EEXIST;   // a different file (or a second hard link) is there
        return 0;
    }
    if (fromName == toName)
        return 1;
    if (fromFolder != toFolder) {
        errno = EEXIST;
        return 0;
    }
    // One known name on the way, so that an undo finds the file there after
    // a kill between the two moves.
    const std::string temp = fromFolder + CaseDetourName(fromName);
    // An empty one there is what a kill on the way left: it goes.
    if (IsOurPlaceholder(dir, temp.c_str()))
        (void)unlinkat(dir, temp.c_str(), 0);   // failing that, the move below says why
    const int there = MoveOnce(dir, device, from, temp);
    if (there != 1)
        return there;
    const int done = MoveOnce(dir, device, temp, to);
    if (done == 1)
        return 1;
    const int err = errno;
    // Back under its own name; failing that, it keeps the temporary one,
    // where an undo of the move's record finds it.
    const int back = MoveOnce(dir, device, temp, from);
    errno = err;
    return back == 1 && done == 0 ? 0 : -1;
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
    return MoveNoReplaceAt(folder, 0, from, to);
}

int MoveNoReplaceAt(int folder, std::uint64_t device, const std::string& from, const std::string& to)
{
    if (!IsUsablePath(from) || !IsUsablePath(to)) {
        errno = EINVAL;
        return 0;
    }
    if (from == to) {
        struct stat st;
        return fstatat(folder, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 1 : 0;
    }
    const int moved = MoveOnce(folder, device, from, to);
    if (moved != 0 || errno != EEXIST)
        return moved;
    return MoveOntoSameEntry(folder, device, from, to);
}

void ForgetMoveWays()
{
    std::lock_guard<std::mutex> lock(g_waysMutex);
    g_ways.clear();
}

std::string CaseDetourName(const std::string& name)
{
    return name + ".tavoly-case";
}

bool IsOurPlaceholder(int folder, const char* name)
{
    struct stat st;
    if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0
        || st.st_nlink != 1 || st.st_uid != geteuid())
        return false;
    // Made before this process began: an empty file another process has
    // just created (and is about to write) is never taken for ours.
    return st.st_ctim.tv_sec < g_began.tv_sec
           || (st.st_ctim.tv_sec == g_began.tv_sec && st.st_ctim.tv_nsec < g_began.tv_nsec);
}

namespace {

struct KnownRun
{
    long long at = 0;
    const char* bytes = nullptr;
    std::size_t length = 0;

    bool Holds(long long offset, std::size_t want) const
    {
        return bytes != nullptr && offset >= at && offset - at <= static_cast<long long>(length)
               && want <= length - static_cast<std::size_t>(offset - at);
    }
};

struct Known
{
    int fd = -1;
    KnownRun runs[2];
};

thread_local Known t_known;

} // namespace

CKnownBytes::CKnownBytes(int fd, long long headAt, const void* head, std::size_t headLength, long long tailAt,
                         const void* tail, std::size_t tailLength)
{
    t_known.fd = fd;
    t_known.runs[0] = KnownRun{headAt, static_cast<const char*>(head), headLength};
    t_known.runs[1] = KnownRun{tailAt, static_cast<const char*>(tail), tailLength};
}

CKnownBytes::~CKnownBytes()
{
    t_known = Known{};
}

bool ReadAt(int fd, void* buffer, std::size_t length, long long offset)
{
    if (fd == t_known.fd && fd >= 0) {
        for (const KnownRun& run : t_known.runs) {
            if (run.Holds(offset, length)) {
                std::memcpy(buffer, run.bytes + (offset - run.at), length);
                return true;
            }
        }
    }
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
