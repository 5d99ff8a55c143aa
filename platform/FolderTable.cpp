// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FolderTable.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/sysmacros.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Enough for any sane depth; past it the least used are closed and opened
// again when needed.
constexpr std::size_t kMaxOpen = 256;

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
    const unsigned want = STATX_INO | STATX_BTIME | (size != nullptr ? STATX_SIZE : 0u)
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
    return true;
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

bool FolderTrustsLinks(const struct stat& folder)
{
    const uid_t me = geteuid();
    return (folder.st_uid == me || folder.st_uid == 0) && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

CFolderTable::~CFolderTable()
{
    for (const std::uint32_t index : m_open)
        close(m_folders[index].fd);
}

void CFolderTable::CloseAll()
{
    for (const std::uint32_t index : m_open) {
        close(m_folders[index].fd);
        m_folders[index].fd = -1;
    }
    m_open.clear();
}

void CFolderTable::CopyFolders(const CFolderTable& other)
{
    for (const std::uint32_t index : m_open)
        close(m_folders[index].fd);
    m_open.clear();
    m_folders = other.m_folders;
    for (Folder& folder : m_folders)
        folder.fd = -1;
    m_byId = other.m_byId;
}

std::uint32_t CFolderTable::Find(const FileId& id) const
{
    const auto it = m_byId.find(id);
    return it == m_byId.end() ? kNone : it->second;
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
        && ((m_folders[known].parent == parent && m_folders[known].name == name) || Open(known) >= 0)) {
        if (fd >= 0)
            close(fd);
        return known;
    }
    const auto index = static_cast<std::uint32_t>(m_folders.size());
    m_folders.push_back(Folder{parent, name, id, -1, 0});
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

void CFolderTable::Keep(std::uint32_t index, int fd)
{
    if (m_open.size() >= kMaxOpen) {
        // The least recently used goes; a parent is cheap to open again.
        const auto oldest = std::min_element(m_open.begin(), m_open.end(), [this](std::uint32_t a, std::uint32_t b) {
            return m_folders[a].used < m_folders[b].used;
        });
        close(m_folders[*oldest].fd);
        m_folders[*oldest].fd = -1;
        *oldest = m_open.back();
        m_open.pop_back();
    }
    m_folders[index].fd = fd;
    m_folders[index].used = ++m_clock;
    m_open.push_back(index);
}

int CFolderTable::Open(std::uint32_t index)
{
    if (index >= m_folders.size()) {
        errno = EINVAL;
        return -1;
    }
    Folder& folder = m_folders[index];
    if (folder.fd >= 0) {
        folder.used = ++m_clock;
        return folder.fd;
    }
    int fd;
    if (folder.parent == kNone) {
        fd = OpenFolderNoFollow(folder.name);
    } else {
        const int parent = Open(folder.parent);
        fd = parent < 0 ? -1 : OpenSubFolder(parent, m_folders[index].name.c_str());
    }
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || IdOf(st) != m_folders[index].id) {
        close(fd);
        errno = kFolderReplaced;
        return -1;
    }
    Keep(index, fd);
    return fd;
}

std::string CFolderTable::Path(std::uint32_t index) const
{
    std::vector<std::uint32_t> chain;
    for (std::uint32_t at = index; at != kNone && chain.size() <= m_folders.size(); at = m_folders[at].parent)
        chain.push_back(at);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty() && path.back() != '/')
            path += '/';
        path += m_folders[*it].name;
    }
    return path;
}

namespace {

// A folder's listing, kept in one buffer: a folder of a million files costs
// little more than their names.
struct Level
{
    std::string prefix;
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
// folder trusts them; the others are told to skipped.
void ReadLevel(int fd, Level& level, const std::function<void(const std::string&, int)>& skipped)
{
    struct stat self;
    DIR* dir = fstat(fd, &self) == 0 ? fdopendir(fd) : nullptr;
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
                if (skipped)
                    skipped(level.prefix + name, ELOOP);
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
    std::vector<Level> levels(1);
    levels[0].prefix = (!path.empty() && path.back() == '/') ? path : path + '/';
    levels[0].index = root;
    ReadLevel(fd, levels[0], skipped);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.starts.size()) {
            levels.pop_back();
            continue;
        }
        const std::uint32_t start = level.starts[level.next++];
        const std::string name(level.names.c_str() + (start & ~Level::kFolderBit));
        const std::string entryPath = level.prefix + name;
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
        Level next;
        next.prefix = entryPath + '/';
        next.index = index;
        ReadLevel(sub, next, skipped);
        levels.push_back(std::move(next));   // level is not used after this
    }
    return 1;
}
