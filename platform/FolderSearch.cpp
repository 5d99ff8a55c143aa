// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FolderSearch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Entry
{
    std::string name;
    bool folder;
};

// A folder whose entries have been read, and how far its walk has come.
struct Level
{
    std::string prefix;   // the folder's path ending with '/'
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::vector<Entry> entries;
    std::size_t next = 0;
};

// Reads the folder's sub-folders and MP3 files into level, in listing order,
// and closes it. 0 when it cannot be opened, -1 when it was searched before.
int ReadFolder(const std::string& folder, FolderIds& entered, Level& level)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st;
    if (fstat(fd, &st) != 0
        || !entered.emplace(static_cast<std::uint64_t>(st.st_dev),
                            static_cast<std::uint64_t>(st.st_ino)).second) {
        close(fd);
        return -1;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return 0;
    }
    level.prefix = (!folder.empty() && folder.back() == '/') ? folder : folder + '/';
    level.device = static_cast<std::uint64_t>(st.st_dev);
    level.inode = static_cast<std::uint64_t>(st.st_ino);
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.')
            continue;   // ".", ".." and every hidden name
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat target;
            isFolder = fstatat(dirfd(dir), name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        }
        const std::size_t length = std::char_traits<char>::length(name);
        if (isFolder || HasMp3Suffix(name, length))
            level.entries.push_back(Entry{std::string(name, length), isFolder});
    }
    closedir(dir);
    return 1;
}

} // namespace

bool HasMp3Suffix(const char* name, std::size_t length)
{
    if (length < 4)
        return false;
    const char* s = name + length - 4;
    return s[0] == '.' && (s[1] | 0x20) == 'm' && (s[2] | 0x20) == 'p' && s[3] == '3';
}

bool SearchMp3Files(const std::string& folder, FolderIds& entered,
                    const std::function<bool(const FoundFile&)>& found,
                    const std::function<void(const std::string&, int)>& unopened)
{
    std::vector<Level> levels(1);
    const int first = ReadFolder(folder, entered, levels[0]);
    if (first <= 0)
        return first < 0;   // met before through a link: nothing to do
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.entries.size()) {
            levels.pop_back();
            continue;
        }
        Entry& entry = level.entries[level.next++];
        const std::string path = level.prefix + entry.name;
        if (entry.folder) {
            Level sub;
            const int read = ReadFolder(path, entered, sub);
            if (read > 0)
                levels.push_back(std::move(sub));   // level is not used after this
            else if (read == 0 && unopened)
                unopened(path, errno);
            continue;
        }
        if (!found(FoundFile{entry.name, path, level.device, level.inode}))
            return true;
    }
    return true;
}
