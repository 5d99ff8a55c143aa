// SPDX-License-Identifier: GPL-3.0-or-later
// Folders known by identity (device and inode) and reached through open
// descriptors, never through a path string trusted twice: a folder is opened
// again from its parent's descriptor without following a link, or from "/"
// one component at a time, and is used only when it is still the same folder.
// So a folder swapped for a link (or for another folder) after it was first
// met is refused, however deep it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

struct FileId
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // When the file was made (ns since the epoch), 0 when the file system does
    // not say; not part of == or <, see SameFile.
    std::uint64_t birth = 0;
    // Where the file system does not keep inode numbers across a rename (see
    // InodesLast), byContent is set and the file is known by what a rename
    // keeps: its size, modification time and a hash of its last bytes
    // (ContentHash). mtime is filled by FileIdAt always, the rest by Content.
    std::uint64_t size = 0;
    std::int64_t mtimeSec = 0;
    std::uint64_t hash = 0;
    std::uint32_t mtimeNsec = 0;
    bool byContent = false;
    bool operator==(const FileId& other) const { return device == other.device && inode == other.inode; }
    bool operator!=(const FileId& other) const { return !(*this == other); }
    bool operator<(const FileId& other) const
    {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

FileId IdOf(const struct stat& st);

// The identity of the entry name in folder (a link's own, not its target's),
// with its birth time where the file system keeps one. false with errno.
// An empty name with AT_EMPTY_PATH in flags gives folder's own.
[[nodiscard]] bool FileIdAt(int folder, const char* name, int flags, FileId& id, std::uint64_t* size = nullptr,
              std::uint32_t* mode = nullptr);

// Whether the file system of folder keeps a file's inode number when it is
// renamed, and a folder's device and inode numbers from one mount to the
// next: not FUSE (sshfs numbers by path, exFAT and FAT drivers anew after a
// cache drop), FAT, exFAT or SMB/CIFS. One fstatfs; true when it fails.
// Where not, files are known by content and folders by their way from "/"
// without links.
[[nodiscard]] bool InodesLast(int folder);

// FNV-1a 64 of the last kContentBytes bytes of a file (all of a shorter one).
constexpr std::size_t kContentBytes = 128;
std::uint64_t ContentHash(const unsigned char* bytes, std::size_t length);

// Makes id a content identity of the regular file open on fd, size bytes long
// (id.mtime... as FileIdAt gave them): one pread of its last bytes, copied
// to tail when given (kContentBytes of them, for a file that long). false
// with errno.
[[nodiscard]] bool Content(int fd, std::uint64_t size, FileId& id, unsigned char* tail = nullptr);
// The same from the last kContentBytes bytes of a file at least that long,
// read already.
void ContentOfTail(std::uint64_t size, const unsigned char* tail, FileId& id);

// The content identity of the entry name in folder, read through folder
// without following a link. false with errno (ELOOP for a link, EINVAL for
// what is not a regular file).
[[nodiscard]] bool ContentIdAt(int folder, const char* name, FileId& id);

// Whether found (of a file as it is now) is the file known as file: by
// content where file is known so, else SameFile. A found without content
// is read at name in folder when needed.
[[nodiscard]] bool IsTheFile(int folder, const char* name, const FileId& found, const FileId& file);

// The same file: same device and inode, and born at the same time where both
// times are known, so an inode number used again for a new file is told apart.
bool SameFile(const FileId& a, const FileId& b);

// errno of a folder that is no longer the one that was met (swapped for a
// link or another folder).
constexpr int kFolderReplaced = ESTALE;

// True when name is one path component: not empty, not "." or "..", no '/'.
bool IsPlainName(std::string_view name);

// Opens an absolute path as a folder, one component at a time from "/",
// following no link. The descriptor, or -1 with errno.
[[nodiscard]] int OpenFolderNoFollow(const std::string& path);

// The absolute path of an open folder, with no link in it: from /proc where
// it can say, else by walking up through "..". "" with errno when unknown.
[[nodiscard]] std::string FolderPathOf(int fd);

// A link in this folder may be followed: only the runner or root can write
// the folder, so nobody else can have put the link there or swapped it.
bool FolderTrustsLinks(const struct stat& folder);

// What the process's descriptor limit (RLIMIT_NOFILE, soft) leaves to the
// folder tables and to the read-ahead threads, worked out afresh on each call.
struct DescriptorBudget
{
    std::size_t folders = 1;    // held open by all tables together
    int readAheadThreads = 0;
};
DescriptorBudget DescriptorBudgetNow();

// Folder descriptors all tables of the process hold open now.
std::size_t FolderDescriptorsHeld();

class CFolderTable
{
public:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    CFolderTable() = default;
    ~CFolderTable();
    CFolderTable(const CFolderTable&) = delete;
    CFolderTable& operator=(const CFolderTable&) = delete;

    // The same folders, with no descriptor open yet: a table of its own for
    // another thread.
    void CopyFolders(const CFolderTable& other);
    // The same, without a copy: other's folders are read where they are, so
    // other must outlive this table and add no folder while it is in use (a
    // read-ahead thread's table during the plan's run). This table's own
    // descriptors stay its own. Adding a folder here copies them first.
    void ShareFolders(const CFolderTable& other);

    // A folder reached from "/" by path (absolute, no links), or a folder
    // named name in parent. fd, when not -1, is its open descriptor, which
    // the table then owns. A folder already known by its identity keeps its
    // index (and fd is closed).
    [[nodiscard]] std::uint32_t AddRoot(const std::string& path, const FileId& id, int fd = -1);
    [[nodiscard]] std::uint32_t AddChild(std::uint32_t parent, const std::string& name, const FileId& id, int fd = -1);
    // A folder opened some other way (by a path the user gave, through a
    // link): found by identity, or added as a root under its path without
    // links. The table takes fd when keep is set, else the caller keeps it.
    // kNone with errno when its path cannot be found.
    [[nodiscard]] std::uint32_t AddOpened(int fd, const FileId& id, bool keep);

    // The folder's descriptor, opened again when needed and checked to be the
    // same folder: -1 with errno (kFolderReplaced when it is another folder
    // now, ELOOP when a link). Valid until the next call of Open.
    [[nodiscard]] int Open(std::uint32_t index);

    // Closes every descriptor the table holds (a program that stays open
    // must not keep a drive busy); Open reopens them as needed.
    void CloseAll();

    // At most most descriptors held by this table, besides the process-wide
    // budget (a read-ahead thread's table needs only a few).
    void LimitOpen(std::size_t most) { m_limit = most < 1 ? 1 : most; }
    std::size_t OpenCount() const { return m_held.size(); }

    // The index of a folder by identity, or kNone.
    std::uint32_t Find(const FileId& id) const;
    std::size_t Size() const { return Folders().size(); }
    std::uint32_t Parent(std::uint32_t index) const { return Folders()[index].parent; }
    // A root's path, or a child's name.
    const std::string& Name(std::uint32_t index) const { return Folders()[index].name; }
    const FileId& Id(std::uint32_t index) const { return Folders()[index].id; }
    // The absolute path, for people and for the journal's readers.
    std::string Path(std::uint32_t index) const;

private:
    struct Folder
    {
        std::uint32_t parent;
        std::string name;
        FileId id;
    };
    // A folder holding a descriptor, in the list of them from the most
    // recently used to the least.
    struct Held
    {
        int fd;
        std::uint32_t newer;
        std::uint32_t older;
    };
    const std::vector<Folder>& Folders() const { return m_shared != nullptr ? m_shared->m_folders : m_folders; }
    void Unshare();
    int HeldFd(std::uint32_t index) const;
    void Keep(std::uint32_t index, int fd);
    void Touch(std::uint32_t index);
    void Unlink(Held& held);
    void CloseOldest();

    const CFolderTable* m_shared = nullptr;   // whose folders these are, when not its own
    std::vector<Folder> m_folders;
    std::map<FileId, std::uint32_t> m_byId;
    std::unordered_map<std::uint32_t, Held> m_held;   // a few hundred at most
    std::uint32_t m_newest = kNone;
    std::uint32_t m_oldest = kNone;
    std::size_t m_limit = SIZE_MAX;
    std::size_t m_budget = 0;            // DescriptorBudgetNow's, when last asked
};

// One MP3 file met by WalkMp3Files, in the folder of the table it names.
struct WalkedFile
{
    std::uint32_t folder;
    const std::string& name;
    const std::string& path;   // as given, joined with '/'
};

// Searches the folder at path (given by the user: links in the path itself are
// followed) depth first: its entries in the order the file system lists them,
// a sub-folder's files where the sub-folder is met. Names beginning with '.'
// are skipped; every other file whose name ends in ".mp3" (any case) goes to
// found, which returns false to stop. Each sub-folder is opened from its
// parent's descriptor, and read and closed before its first entry is handled,
// so depth costs no descriptor, no stack and no path per level. A folder link
// is followed only where FolderTrustsLinks says so; other links are told to
// skipped with ELOOP. entered keeps folder identities across calls. maxDepth,
// when not negative, is how many levels of sub-folders are entered (0: the
// folder's own files only). 1 searched (or met before); 0 path cannot be
// opened as a folder (errno); -2 stopped by found.
int WalkMp3Files(const std::string& path, CFolderTable& table, std::set<FileId>& entered,
                 const std::function<bool(const WalkedFile&)>& found,
                 const std::function<void(const std::string&, int)>& skipped, int maxDepth = -1);
