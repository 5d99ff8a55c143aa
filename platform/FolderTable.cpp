// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FolderTable.h"

#include <cstring>

#include "platform/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Folder descriptors held by every table of the process.
std::atomic<std::size_t> g_held{0};

// Descriptors open in the process now, other than the tables' folders: the
// standard three, inherited ones, a window's display connection.
std::size_t OthersOpen()
{
    std::size_t open = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir))
            open += entry->d_name[0] != '.' ? 1 : 0;
        closedir(dir);
        open -= open > 0 ? 1 : 0;   // the listing's own
    } else {
        open = 3;
    }
    const std::size_t held = g_held.load();
    return open > held ? open - held : 0;
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The name of the entry of parent that is the folder child, or "".
std::string NameIn(int parent, const FileId& child)
{
    const int fd = dup(parent);
    if (fd < 0)
        return std::string();
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return std::string();
    }
    rewinddir(dir);
    std::string found;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        // d_ino of a mount point is the covered folder's: ask for the real one.
        struct stat st;
        if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)
            && IdOf(st) == child) {
            found = name;
            break;
        }
    }
    closedir(dir);
    return found;
}

// openat with O_NOFOLLOW | O_DIRECTORY, with a link told as ELOOP (the
// kernel says ENOTDIR for a link when both flags are given).
int OpenSubFolder(int parent, const char* name)
{
    const int fd = openat(parent, name, kFolderFlags);
    if (fd < 0 && errno == ENOTDIR) {
        struct stat st;
        if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            errno = ELOOP;
        else
            errno = ENOTDIR;
    }
    return fd;
}

} // namespace

FileId IdOf(const struct stat& st)
{
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool FileIdAt(int folder, const char* name, int flags, FileId& id, std::uint64_t* size, std::uint32_t* mode)
{
    struct statx st;
    // The modification time is among what every statx gives: no extra cost.
    const unsigned want = STATX_INO | STATX_BTIME | STATX_MTIME | (size != nullptr ? STATX_SIZE : 0u)
                          | (mode != nullptr ? STATX_TYPE : 0u);
    if (statx(folder, name, flags | AT_SYMLINK_NOFOLLOW, want, &st) != 0)
        return false;
    if (size != nullptr)
        *size = st.stx_size;
    if (mode != nullptr)
        *mode = st.stx_mode;
    id.device = makedev(st.stx_dev_major, st.stx_dev_minor);
    id.inode = st.stx_ino;
    id.birth = (st.stx_mask & STATX_BTIME) != 0
                   ? static_cast<std::uint64_t>(st.stx_btime.tv_sec) * 1000000000u + st.stx_btime.tv_nsec
                   : 0;
    id.mtimeSec = st.stx_mtime.tv_sec;
    id.mtimeNsec = st.stx_mtime.tv_nsec;
    id.byContent = false;   // Content makes it one
    return true;
}

bool InodesLast(int folder)
{
    struct statfs fs;
    if (fstatfs(folder, &fs) != 0)
        return true;
    switch (static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul) {
    case 0x65735546ul:   // FUSE
    case 0x4d44ul:       // MSDOS, vfat
    case 0x2011BAB0ul:   // exFAT
    case 0xFF534D42ul:   // CIFS
    case 0xFE534D42ul:   // SMB2
    case 0x517Bul:       // SMB
        return false;
    default:
        return true;
    }
}

std::uint64_t ContentHash(const unsigned char* bytes, std::size_t length)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < length; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    return hash;
}

void ContentOfTail(std::uint64_t size, const unsigned char* tail, FileId& id)
{
    id.size = size;
    id.hash = ContentHash(tail, kContentBytes);
    id.byContent = true;
}

bool Content(int fd, std::uint64_t size, FileId& id, unsigned char* tail)
{
    unsigned char bytes[kContentBytes];
    const std::size_t want = size < kContentBytes ? static_cast<std::size_t>(size) : kContentBytes;
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = pread(fd, bytes + got, want - got, static_cast<off_t>(size - want + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;   // shorter than it was a moment ago
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    id.size = size;
    id.hash = ContentHash(bytes, want);
    id.byContent = true;
    if (tail != nullptr && want == kContentBytes)
        std::memcpy(tail, bytes, kContentBytes);
    return true;
}

bool ContentIdAt(int folder, const char* name, FileId& id)
{
    const int fd = openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    std::uint64_t size = 0;
    std::uint32_t mode = 0;
    bool done = FileIdAt(fd, "", AT_EMPTY_PATH, id, &size, &mode);
    if (done && !S_ISREG(mode)) {
        errno = EINVAL;
        done = false;
    }
    done = done && Content(fd, size, id);
    const int err = errno;
    close(fd);
    errno = err;
    return done;
}

bool IsTheFile(int folder, const char* name, const FileId& found, const FileId& file)
{
    if (!file.byContent)
        return SameFile(found, file);
    FileId now = found;
    if (!now.byContent && !ContentIdAt(folder, name, now))
        return false;
    // A rename keeps all three; the mtime as read, at the precision the
    // file system keeps it.
    return now.size == file.size && now.mtimeSec == file.mtimeSec && now.mtimeNsec == file.mtimeNsec
           && now.hash == file.hash;
}

bool SameFile(const FileId& a, const FileId& b)
{
    return a == b && (a.birth == 0 || b.birth == 0 || a.birth == b.birth);
}

bool IsPlainName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos
           && name.find('\0') == std::string_view::npos;
}

int OpenFolderNoFollow(const std::string& path)
{
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    int fd = open("/", kFolderFlags);
    std::size_t at = 1;
    while (fd >= 0 && at < path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(at, end - at);
        at = end + 1;
        if (part.empty())
            continue;
        if (part == "." || part == "..") {
            close(fd);
            errno = EINVAL;   // a stored path is plain; these would step around
            return -1;
        }
        const int next = OpenSubFolder(fd, part.c_str());
        const int err = errno;
        close(fd);
        fd = next;
        errno = err;
    }
    return fd;
}

std::string FolderPathOf(int fd)
{
    struct stat self;
    if (fstat(fd, &self) != 0)
        return std::string();
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string buffer(4096, '\0');
    const ssize_t n = readlink(link, &buffer[0], buffer.size());
    if (n > 0 && static_cast<std::size_t>(n) < buffer.size() && buffer[0] == '/') {
        buffer.resize(static_cast<std::size_t>(n));
        // Believed only when the path leads back to this very folder.
        const int check = OpenFolderNoFollow(buffer);
        struct stat st;
        const bool same = check >= 0 && fstat(check, &st) == 0 && IdOf(st) == IdOf(self);
        if (check >= 0)
            close(check);
        if (same)
            return buffer;
    }
    // Too deep for /proc (or no /proc): up through "..", a name at a time.
    std::vector<std::string> names;
    int current = dup(fd);
    FileId id = IdOf(self);
    while (current >= 0) {
        const int parent = openat(current, "..", kFolderFlags);
        close(current);
        current = -1;
        struct stat st;
        if (parent < 0 || fstat(parent, &st) != 0) {
            if (parent >= 0)
                close(parent);
            return std::string();
        }
        if (IdOf(st) == id) {   // "/" is its own parent
            close(parent);
            break;
        }
        std::string name = NameIn(parent, id);
        if (name.empty()) {
            close(parent);
            errno = ENOENT;
            return std::string();
        }
        names.push_back(std::move(name));
        id = IdOf(st);
        current = parent;
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        path += '/' + *it;
    return path.empty() ? "/" : path;
}

DescriptorBudget DescriptorBudgetNow()
{
    // For a soft limit of L descriptors, S of them open before the first
    // folder was kept (counted once):
    //   spare = L - S - 16; the 16 are for the journal's folder and file, the
    //     file being read or moved, what reopening a folder or finding its
    //     path holds for a moment (up to 6), and a few to spare;
    //   half the spare for the folders of all tables together (at least 1);
    //   a quarter for the read-ahead threads, 4 each (a file, two folders of
    //     its own table and one being opened), 16 threads at most;
    //   the last quarter for what libraries open later (sound output, the
    //     window system).
    // So a dry run, which keeps the same folders open, meets the same limit
    // as the real run, which adds only the journal.
    static const std::size_t others = OthersOpen();
    constexpr std::size_t kReserved = 16;
    constexpr std::size_t kPerThread = 4;
    constexpr std::size_t kMostThreads = 16;
    rlimit limit{};
    rlim_t soft = getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
    if (soft == RLIM_INFINITY || soft > (1u << 24))
        soft = 1u << 24;
    const auto total = static_cast<std::size_t>(soft);
    const std::size_t spare = total > others + kReserved ? total - others - kReserved : 0;
    DescriptorBudget budget;
    budget.folders = std::max<std::size_t>(1, spare / 2);
    budget.readAheadThreads = static_cast<int>(std::min(kMostThreads, spare / 4 / kPerThread));
    return budget;
}

std::size_t FolderDescriptorsHeld()
{
    return g_held.load();
}

bool FolderTrustsLinks(const struct stat& folder)
{
    const uid_t me = geteuid();
    return (folder.st_uid == me || folder.st_uid == 0) && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

CFolderTable::~CFolderTable()
{
    CloseAll();
}

void CFolderTable::CloseAll()
{
    while (!m_held.empty())
        CloseOldest();
}

void CFolderTable::CopyFolders(const CFolderTable& other)
{
    CloseAll();
    m_shared = nullptr;
    m_folders = other.Folders();
    m_byId = other.m_shared != nullptr ? other.m_shared->m_byId : other.m_byId;
}

void CFolderTable::ShareFolders(const CFolderTable& other)
{
    CloseAll();
    m_folders.clear();
    m_byId.clear();
    m_shared = other.m_shared != nullptr ? other.m_shared : &other;
}

void CFolderTable::Unshare()
{
    if (m_shared == nullptr)
        return;
    m_folders = m_shared->m_folders;
    m_byId = m_shared->m_byId;
    m_shared = nullptr;
}

std::uint32_t CFolderTable::Find(const FileId& id) const
{
    const std::map<FileId, std::uint32_t>& byId = m_shared != nullptr ? m_shared->m_byId : m_byId;
    const auto it = byId.find(id);
    return it == byId.end() ? kNone : it->second;
}

std::uint32_t CFolderTable::AddRoot(const std::string& path, const FileId& id, int fd)
{
    return AddChild(kNone, path, id, fd);
}

std::uint32_t CFolderTable::AddChild(std::uint32_t parent, const std::string& name, const FileId& id, int fd)
{
    const std::uint32_t known = Find(id);
    // Known by another way in, it is the same folder while that way still
    // leads to it; else the folder known is gone and a new one has its
    // number (a program that stays open meets that).
    if (known != kNone
        && ((Folders()[known].parent == parent && Folders()[known].name == name) || Open(known) >= 0)) {
        if (fd >= 0)
            close(fd);
        return known;
    }
    Unshare();
    const auto index = static_cast<std::uint32_t>(m_folders.size());
    m_folders.push_back(Folder{parent, name, id});
    m_byId[id] = index;
    if (fd >= 0)
        Keep(index, fd);
    return index;
}

std::uint32_t CFolderTable::AddOpened(int fd, const FileId& id, bool keep)
{
    std::uint32_t index = Find(id);
    if (index != kNone && Open(index) < 0)
        index = kNone;   // gone, and a new folder has its number
    if (index == kNone) {
        const std::string real = FolderPathOf(fd);
        if (real.empty()) {
            if (errno == 0)
                errno = ENOENT;
            return kNone;
        }
        return AddRoot(real, id, keep ? fd : -1);
    }
    if (keep)
        close(fd);
    return index;
}

int CFolderTable::HeldFd(std::uint32_t index) const
{
    const auto it = m_held.find(index);
    return it == m_held.end() ? -1 : it->second.fd;
}

void CFolderTable::Unlink(Held& held)
{
    (held.newer == kNone ? m_newest : m_held.at(held.newer).older) = held.older;
    (held.older == kNone ? m_oldest : m_held.at(held.older).newer) = held.newer;
    held.newer = held.older = kNone;
}

void CFolderTable::Touch(std::uint32_t index)
{
    if (m_newest == index)
        return;
    Held& held = m_held.at(index);
    if (held.newer != kNone || m_oldest == index)
        Unlink(held);   // in the list already; a folder just opened is not yet
    held.older = m_newest;
    if (m_newest != kNone)
        m_held.at(m_newest).newer = index;
    m_newest = index;
    if (m_oldest == kNone)
        m_oldest = index;
}

void CFolderTable::CloseOldest()
{
    const std::uint32_t index = m_oldest;
    const auto it = m_held.find(index);
    Unlink(it->second);
    close(it->second.fd);
    m_held.erase(it);
    g_held.fetch_sub(1);
}

void CFolderTable::Keep(std::uint32_t index, int fd)
{
    // The least recently used go; a folder is cheap to open again from its
    // parent. A table always keeps the one it hands out. The limit is asked
    // again only when the last answer is reached: it seldom changes.
    if (m_held.size() >= m_limit || g_held.load() >= m_budget) {
        m_budget = DescriptorBudgetNow().folders;
        while (!m_held.empty() && (m_held.size() >= m_limit || g_held.load() >= m_budget))
            CloseOldest();
    }
    m_held.emplace(index, Held{fd, kNone, kNone});
    g_held.fetch_add(1);
    Touch(index);
}

int CFolderTable::Open(std::uint32_t index)
{
    const std::vector<Folder>& folders = Folders();
    if (index >= folders.size()) {
        errno = EINVAL;
        return -1;
    }
    if (const int fd = HeldFd(index); fd >= 0) {
        Touch(index);
        return fd;
    }
    // Up to the nearest folder still open (or a root), then down one level
    // at a time: no recursion, however deep the folder.
    std::vector<std::uint32_t> chain{index};
    int fd = -1;
    while (folders[chain.back()].parent != kNone) {
        fd = HeldFd(folders[chain.back()].parent);
        if (fd >= 0) {
            Touch(folders[chain.back()].parent);
            break;
        }
        if (chain.size() > folders.size()) {
            errno = EINVAL;   // a loop of parents: a damaged table
            return -1;
        }
        chain.push_back(folders[chain.back()].parent);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const Folder& folder = folders[*it];
        const int next = fd < 0 ? OpenFolderNoFollow(folder.name) : OpenSubFolder(fd, folder.name.c_str());
        if (next < 0)
            return -1;
        struct stat st;
        // Where the file system keeps no numbers from one mount to the next
        // (a stick plugged in again), the way without links must do.
        if (fstat(next, &st) != 0 || (IdOf(st) != folder.id && InodesLast(next))) {
            close(next);
            errno = kFolderReplaced;
            return -1;
        }
        Keep(*it, next);   // may close fd, which is done with
        fd = next;
    }
    return fd;
}

std::string CFolderTable::Path(std::uint32_t index) const
{
    const std::vector<Folder>& folders = Folders();
    std::vector<std::uint32_t> chain;
    for (std::uint32_t at = index; at != kNone && chain.size() <= folders.size(); at = folders[at].parent)
        chain.push_back(at);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty() && path.back() != '/')
            path += '/';
        path += folders[*it].name;
    }
    return path;
}

namespace {

// A folder's listing, kept in one buffer: a folder of a million files costs
// little more than their names.
struct Level
{
    std::size_t prefix;                 // the length of its path, '/' included
    std::uint32_t index;
    std::string names;                  // each ended by a zero byte
    std::vector<std::uint32_t> starts;  // where each name starts; kFolderBit for a sub-folder
    std::size_t next = 0;

    static constexpr std::uint32_t kFolderBit = 1u << 31;

    void Add(const char* name, std::size_t length, bool folder)
    {
        starts.push_back(static_cast<std::uint32_t>(names.size()) | (folder ? kFolderBit : 0));
        names.append(name, length);
        names += '\0';
    }
};

// Reads the open folder fd (which this closes) into level: its MP3 files and
// the sub-folders to search. Links to folders are listed only where the
// folder trusts them; the others are told to skipped. path is the folder's
// own, ending with '/'; it is lent for the names told and given back as it was.
// self: fd's fstat, which the caller has made already.
void ReadLevel(int fd, const struct stat& self, Level& level, std::string& path,
               const std::function<void(const std::string&, int)>& skipped)
{
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    const bool trustLinks = FolderTrustsLinks(self);
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.')
            continue;   // ".", ".." and every hidden name
        const std::size_t length = std::char_traits<char>::length(name);
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        bool isFolder = type == DT_DIR;
        if (type == DT_LNK) {
            struct stat target;
            isFolder = fstatat(dirfd(dir), name, &target, 0) == 0 && S_ISDIR(target.st_mode);
            if (isFolder && !trustLinks) {
                if (skipped) {
                    path.append(name, length);
                    skipped(path, ELOOP);
                    path.resize(level.prefix);
                }
                continue;
            }
        }
        if (isFolder || HasMp3Suffix(name, length))
            level.Add(name, length, isFolder);
    }
    closedir(dir);
}

} // namespace

int WalkMp3Files(const std::string& path, CFolderTable& table, std::set<FileId>& entered,
                 const std::function<bool(const WalkedFile&)>& found,
                 const std::function<void(const std::string&, int)>& skipped, int maxDepth)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (fd < 0)
        return 0;
    if (fstat(fd, &st) != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return 0;
    }
    if (!entered.insert(IdOf(st)).second) {
        close(fd);
        return 1;   // met before through a link: nothing to do
    }
    const std::uint32_t root = table.AddOpened(fd, IdOf(st), false);
    if (root == CFolderTable::kNone) {
        const int err = errno;
        close(fd);
        errno = err;
        return 0;
    }
    // One path for the whole walk, cut back to a level's own when the walk
    // returns there: a path per level would cost the square of the depth.
    std::string entryPath = (!path.empty() && path.back() == '/') ? path : path + '/';
    std::string name;
    std::vector<Level> levels(1);
    levels[0].prefix = entryPath.size();
    levels[0].index = root;
    ReadLevel(fd, st, levels[0], entryPath, skipped);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.starts.size()) {
            levels.pop_back();
            continue;
        }
        const std::uint32_t start = level.starts[level.next++];
        name.assign(level.names.c_str() + (start & ~Level::kFolderBit));
        entryPath.resize(level.prefix);
        entryPath += name;
        if ((start & Level::kFolderBit) == 0) {
            if (!found(WalkedFile{level.index, name, entryPath}))
                return -2;
            continue;
        }
        if (maxDepth >= 0 && levels.size() > static_cast<std::size_t>(maxDepth))
            continue;   // deeper than asked: not entered
        // Opened now, from the parent's descriptor: what the listing named
        // may have been swapped since.
        const int parent = table.Open(level.index);
        int sub = parent < 0 ? -1 : OpenSubFolder(parent, name.c_str());
        bool viaLink = false;
        if (sub < 0 && errno == ELOOP && parent >= 0) {
            struct stat holder;
            if (fstat(parent, &holder) == 0 && FolderTrustsLinks(holder)) {
                sub = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                viaLink = true;
            } else {
                errno = ELOOP;
            }
        }
        struct stat subSt;
        if (sub < 0 || fstat(sub, &subSt) != 0) {
            const int err = errno;
            if (sub >= 0)
                close(sub);
            if (skipped)
                skipped(entryPath, err);
            continue;
        }
        if (!entered.insert(IdOf(subSt)).second) {
            close(sub);
            continue;
        }
        const std::uint32_t index = viaLink ? table.AddOpened(sub, IdOf(subSt), false)
                                            : table.AddChild(level.index, name, IdOf(subSt));
        if (index == CFolderTable::kNone) {
            const int err = errno;
            close(sub);
            if (skipped)
                skipped(entryPath, err);
            continue;
        }
        entryPath += '/';
        Level next;
        next.prefix = entryPath.size();
        next.index = index;
        ReadLevel(sub, subSt, next, entryPath, skipped);
        levels.push_back(std::move(next));   // level is not used after this
    }
    return 1;
}
