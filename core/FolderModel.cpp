// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/FolderModel.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum : std::uint8_t { kEmpty, kFree, kHeld };

std::uint64_t HashOf(const CFolderModel::Name& name)
{
    std::uint64_t hash = 1469598103934665603ull ^ name.folder;
    for (const char c : name.name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash ^ (hash >> 29);
}

} // namespace

CFolderModel::CFolderModel(NameOf nameOf, FileOf fileOf, bool oldNamesKnown)
    : m_nameOf(std::move(nameOf)), m_fileOf(std::move(fileOf)), m_oldNamesKnown(oldNamesKnown),
      m_slots(64, Slot{0, 0, 0, kEmpty})
{
}

std::size_t CFolderModel::Find(const Name& name) const
{
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t at = HashOf(name) & mask;; at = (at + 1) & mask) {
        const Slot& slot = m_slots[at];
        if (slot.state == kEmpty)
            return at;
        const Name there = m_nameOf(slot.item, slot.isNew != 0);
        if (there.folder == name.folder && there.name == name.name)
            return at;
    }
}

void CFolderModel::Grow()
{
    std::vector<Slot> old(m_slots.size() * 2, Slot{0, 0, 0, kEmpty});
    old.swap(m_slots);
    for (const Slot& slot : old) {
        if (slot.state != kEmpty)
            m_slots[Find(m_nameOf(slot.item, slot.isNew != 0))] = slot;
    }
}

void CFolderModel::Reserve(std::size_t names)
{
    std::size_t size = m_slots.size();
    while (names * 4 > size * 3)
        size *= 2;
    if (size > m_slots.size() && m_used == 0)
        m_slots.assign(size, Slot{0, 0, 0, kEmpty});
}

CFolderModel::Slot& CFolderModel::Put(std::uint32_t item, bool isNew)
{
    if ((m_used + 1) * 4 > m_slots.size() * 3)
        Grow();
    Slot& slot = m_slots[Find(m_nameOf(item, isNew))];
    if (slot.state == kEmpty) {
        slot = Slot{item, item & (kMaxItems - 1), isNew ? 1u : 0u, kFree};
        ++m_used;
    }
    return slot;
}

bool CFolderModel::Entry(std::uint32_t item, bool isNew, int fd, FileId& id) const
{
    const Name name = m_nameOf(item, isNew);
    const Slot& slot = m_slots[Find(name)];
    if (slot.state == kEmpty && !isNew && m_oldNamesKnown) {
        id = m_fileOf(item);
        return true;
    }
    if (slot.state == kEmpty)
        return FileIdAt(fd, std::string(name.name).c_str(), 0, id);
    if (slot.state == kHeld)
        id = m_fileOf(slot.owner);
    return slot.state == kHeld;
}

int CFolderModel::Move(std::uint32_t item, bool toNew, int fd, int& err)
{
    const Name from = m_nameOf(item, !toNew), to = m_nameOf(item, toNew);
    FileId moving, there;
    if (!Entry(item, !toNew, fd, moving)) {
        err = ENOENT;
        return 0;
    }
    if (from.name == to.name)
        return 1;
    if (Entry(item, toNew, fd, there) && !SameEntry(item, fd)) {
        err = EEXIST;
        return 0;
    }
    const Rights& rights = RightsOf(from.folder, fd);
    if (!rights.writable) {
        err = EACCES;
        return 0;
    }
    struct stat st;
    if (rights.stickyForMe && fstatat(fd, std::string(from.name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
        && st.st_uid != geteuid()) {
        err = EPERM;   // a shared folder: only the owner may move the file
        return 0;
    }
    Put(item, !toNew).state = kFree;
    Slot& held = Put(item, toNew);
    held.state = kHeld;
    held.owner = item & (kMaxItems - 1);
    return 1;
}

// Both names lead to one file on disk: a case change on a file system that
// ignores case, which the move allows.
bool CFolderModel::SameEntry(std::uint32_t item, int fd) const
{
    const Name a = m_nameOf(item, false), b = m_nameOf(item, true);
    if (m_slots[Find(a)].state != kEmpty || m_slots[Find(b)].state != kEmpty)
        return false;
    struct stat x, y;
    return fstatat(fd, std::string(a.name).c_str(), &x, AT_SYMLINK_NOFOLLOW) == 0
           && fstatat(fd, std::string(b.name).c_str(), &y, AT_SYMLINK_NOFOLLOW) == 0 && x.st_dev == y.st_dev
           && x.st_ino == y.st_ino && x.st_nlink == 1 && !S_ISDIR(x.st_mode);
}

const CFolderModel::Rights& CFolderModel::RightsOf(std::uint32_t folder, int fd)
{
    const auto it = m_rights.find(folder);
    if (it != m_rights.end())
        return it->second;
    Rights rights{faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) == 0, false};
    struct stat st;
    if (geteuid() != 0 && fstat(fd, &st) == 0)
        rights.stickyForMe = (st.st_mode & S_ISVTX) != 0 && st.st_uid != geteuid();
    return m_rights.emplace(folder, rights).first->second;
}
