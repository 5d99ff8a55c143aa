#include "core/RenameBatch.h"

#include "core/TagFile.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

const char* const kUndoMovedBack = "Moved back";
const char* const kUndoNotMoved = "Under its old name already";
const char* const kUndoGone = "Failed, File is gone! ";
const char* const kUndoNameTaken = "Failed, Old name is taken! ";
const char* const kUndoFailed = "Failed, Unable to move the file back! ";

namespace {

enum : std::uint8_t { kNotRead, kNameFound, kNoSongName, kUnreadable };

std::string_view NameOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The name target is held by a file other than the one at path (not the same
// entry under another letter case), so the never-replacing move must fail.
bool TakenByOther(const std::string& path, const std::string& target)
{
    struct stat a, b;
    return lstat(target.c_str(), &b) == 0
           && (lstat(path.c_str(), &a) != 0 || a.st_dev != b.st_dev || a.st_ino != b.st_ino);
}

// What a trial takes the folders to hold: the names it has moved so far, over
// what the disk holds. Keys name a file for the model; equal keys, one file.
class FolderModel
{
public:
    bool Exists(const std::string& key, const std::string& path) const
    {
        const auto it = m_names.find(key);
        return it != m_names.end() ? it->second : ::Exists(path);
    }

    // MoveNoReplace as it would go: 1, or 0 with err as errno would be.
    int Move(const std::string& fromKey, const std::string& from, const std::string& toKey,
             const std::string& to, int& err)
    {
        if (from == to) {
            err = ENOENT;
            return Exists(fromKey, from) ? 1 : 0;
        }
        if (!Exists(fromKey, from)) {
            err = ENOENT;
            return 0;
        }
        if (Exists(toKey, to) && !SameEntry(fromKey, from, toKey, to)) {
            err = EEXIST;
            return 0;
        }
        const Folder& folder = FolderOf(FolderPart(to));
        if (!folder.writable) {
            err = EACCES;
            return 0;
        }
        if (folder.stickyForMe && !Mine(from)) {
            err = EPERM;   // a shared folder: only the owner may move the file
            return 0;
        }
        m_names[fromKey] = false;
        m_names[toKey] = true;
        return 1;
    }

private:
    // Both names lead to one file on disk: a case change on a file system
    // that ignores case, which the move allows.
    bool SameEntry(const std::string& fromKey, const std::string& from,
                   const std::string& toKey, const std::string& to) const
    {
        if (m_names.count(fromKey) != 0 || m_names.count(toKey) != 0)
            return false;
        struct stat a, b;
        return lstat(from.c_str(), &a) == 0 && lstat(to.c_str(), &b) == 0
               && a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_nlink == 1
               && !S_ISDIR(a.st_mode);
    }

    struct Folder
    {
        bool writable;
        bool stickyForMe;   // sticky and not ours: others' files stay put
    };

    const Folder& FolderOf(const std::string& path)
    {
        const auto it = m_folders.find(path);
        if (it != m_folders.end())
            return it->second;
        Folder folder{access(path.c_str(), W_OK | X_OK) == 0, false};
        struct stat st;
        if (geteuid() != 0 && stat(path.c_str(), &st) == 0)
            folder.stickyForMe = (st.st_mode & S_ISVTX) != 0 && st.st_uid != geteuid();
        return m_folders.emplace(path, folder).first->second;
    }

    static bool Mine(const std::string& path)
    {
        struct stat st;
        return lstat(path.c_str(), &st) != 0 || st.st_uid == geteuid();
    }

    std::unordered_map<std::string, bool> m_names;
    std::unordered_map<std::string, Folder> m_folders;
};

} // namespace

// Paths and names kept whole in large blocks: no allocation per string.
class CRenameBatch::TextStore
{
public:
    std::string_view Keep(std::string_view text)
    {
        if (text.size() > m_free) {
            const std::size_t size = std::max(kBlock, text.size());
            m_blocks.emplace_back(new char[size]);
            m_next = m_blocks.back().get();
            m_free = size;
        }
        if (!text.empty())
            std::memcpy(m_next, text.data(), text.size());
        const std::string_view kept(m_next, text.size());
        m_next += text.size();
        m_free -= text.size();
        return kept;
    }

private:
    static constexpr std::size_t kBlock = 1 << 16;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_next = nullptr;
    std::size_t m_free = 0;
};

CRenameBatch::CRenameBatch() : m_text(new TextStore)
{
    std::string buffer(4096, '\0');
    const char* cwd;
    while ((cwd = getcwd(&buffer[0], buffer.size())) == nullptr && errno == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (cwd != nullptr && cwd[0] == '/')
        m_cwd = cwd;
}

CRenameBatch::~CRenameBatch() = default;

std::uint32_t CRenameBatch::FolderIndex(std::uint64_t device, std::uint64_t inode)
{
    const auto added = m_folders.emplace(std::make_pair(device, inode),
                                         static_cast<std::uint32_t>(m_folders.size()));
    return added.first->second;
}

void CRenameBatch::Add(const std::string& path, std::uint32_t folder)
{
    m_files.push_back(File{m_text->Keep(path), std::string_view(), folder, kNotRead});
}

std::string CRenameBatch::Absolute(std::string_view path) const
{
    if ((!path.empty() && path[0] == '/') || m_cwd.empty())
        return std::string(path);   // no current folder to name: as given
    std::string absolute = m_cwd;
    if (absolute.empty() || absolute.back() != '/')
        absolute += '/';
    return absolute.append(path);
}

int CRenameBatch::AddPath(const std::string& path, BatchObserver& observer)
{
    struct stat st;
    if (!IsUsablePath(path)) {
        errno = ENOENT;
        return 0;
    }
    if (stat(path.c_str(), &st) != 0)
        return 0;
    if (S_ISDIR(st.st_mode)) {
        bool stopped = false;
        std::uint64_t lastDevice = 0, lastInode = 0;
        std::uint32_t lastFolder = 0;
        bool haveLast = false;
        const bool opened = SearchMp3Files(path, m_entered, [&](const FoundFile& file) {
            if (!haveLast || file.folderDevice != lastDevice || file.folderInode != lastInode) {
                lastDevice = file.folderDevice;
                lastInode = file.folderInode;
                lastFolder = FolderIndex(lastDevice, lastInode);
                haveLast = true;
            }
            if (m_named.empty() || m_named.count({lastFolder, file.name}) == 0)
                Add(file.path, lastFolder);
            observer.Progress("Searching", m_files.size(), 0);
            stopped = observer.StopRequested();
            return !stopped;
        }, [&observer](const std::string& folder, int error) {
            observer.FolderUnopened(folder, error);
        });
        if (!opened)
            return 0;   // errno from the folder's open: not silently an empty run
        return stopped ? -2 : 1;
    }
    const std::string name(NameOf(path));
    if (!HasMp3Suffix(name.data(), name.size()))
        return -1;
    struct stat folder;
    if (stat(FolderPart(path).c_str(), &folder) != 0)
        return 0;
    const auto id = std::make_pair(static_cast<std::uint64_t>(folder.st_dev),
                                   static_cast<std::uint64_t>(folder.st_ino));
    if (name[0] != '.' && m_entered.count(id) != 0)
        return 1;   // a folder search has planned it already
    const std::uint32_t index = FolderIndex(id.first, id.second);
    if (m_named.emplace(index, name).second)
        Add(path, index);
    return 1;
}

bool CRenameBatch::ReadNames(bool artistFirst, BatchObserver& observer)
{
    std::string path, name, title, artist;
    const std::size_t total = m_files.size();
    for (std::size_t i = 0; i < total; ++i) {
        if (observer.StopRequested())
            return false;
        observer.Progress("Reading tags", i, total);
        File& file = m_files[i];
        path.assign(file.path);
        const std::string state = AutoRenameTarget(path, artistFirst, name, title, artist);
        if (state == kStateSuccessful) {
            file.newName = m_text->Keep(name);
            file.read = kNameFound;
        } else {
            file.read = state == kStateUnwritable ? kUnreadable : kNoSongName;
        }
    }
    observer.Progress("Reading tags", total, total);
    return true;
}

int CRenameBatch::Perform(CRunJournal* journal, BatchObserver& observer)
{
    const char* phase = journal != nullptr ? "Renaming" : "Checking";
    FolderModel model;
    std::string path, name, target, newPath;
    const std::size_t total = m_files.size();
    for (std::size_t i = 0; i < total; ++i) {
        if (observer.StopRequested())
            return 0;
        observer.Progress(phase, i, total);
        const File& file = m_files[i];
        if (file.read != kNameFound) {
            observer.FileDone(FileResult{file.read == kUnreadable ? kStateUnwritable : kStateSongNotFound,
                                         file.path, std::string_view(), Outcome::Failed});
            continue;
        }
        path.assign(file.path);
        name.assign(file.newName);
        target = PathInSameFolder(path, name);
        bool moved;
        bool journalFailed = false;
        if (journal == nullptr) {
            const std::string folder = std::to_string(file.folder) + '/';
            int err = 0;
            moved = model.Move(folder + std::string(NameOf(path)), path, folder + name, target, err) == 1;
        } else if (target == path) {
            moved = RenameInFolder(path, name, newPath) == 1;   // nothing to move or record
        } else if (TakenByOther(path, target)) {
            // Failed without a record: a killed run's last record whose move
            // never came would have its undo move the other file.
            moved = false;
        } else {
            if (!journal->RecordMove(Absolute(file.path), name))
                return -1;
            moved = RenameInFolder(path, name, newPath) == 1;
            journalFailed = !moved && !journal->RecordFailed();
        }
        const Outcome outcome = !moved ? Outcome::Failed
                                : target == path ? Outcome::Unchanged : Outcome::Renamed;
        observer.FileDone(FileResult{moved ? kStateSuccessful : kStateRenameFailed, file.path,
                                     file.newName, outcome});
        if (journalFailed)
            return -1;
    }
    observer.Progress(phase, total, total);
    return 1;
}

int UndoRun(CRunFile& run, bool trial, BatchObserver& observer)
{
    const char* phase = trial ? "Checking" : "Undoing";
    const std::vector<RunMove>& moves = run.Moves();
    FolderModel model;
    std::string oldPath, oldName, renamed, target;
    for (std::size_t n = 0; n < moves.size(); ++n) {
        if (observer.StopRequested())
            return 0;
        observer.Progress(phase, n, moves.size());
        const RunMove& move = moves[moves.size() - 1 - n];
        oldPath.assign(move.oldPath);
        oldName.assign(NameOf(move.oldPath));
        renamed = PathInSameFolder(oldPath, std::string(move.newName));
        int err = 0;
        bool moved;
        if (trial) {
            moved = model.Move(renamed, renamed, oldPath, oldPath, err) == 1;
        } else {
            moved = RenameInFolder(renamed, oldName, target) == 1;
            err = errno;
        }
        const char* state = kUndoMovedBack;
        Outcome outcome = Outcome::Renamed;
        if (!moved) {
            outcome = Outcome::Failed;
            if (err == ENOENT && (trial ? model.Exists(oldPath, oldPath) : Exists(oldPath))) {
                state = kUndoNotMoved;   // a killed run's last move that never happened
                outcome = Outcome::Unchanged;
            } else if (err == ENOENT) {
                state = kUndoGone;
            } else if (err == EEXIST) {
                state = kUndoNameTaken;
            } else {
                state = kUndoFailed;
            }
        }
        observer.FileDone(FileResult{state, renamed, oldName, outcome});
    }
    observer.Progress(phase, moves.size(), moves.size());
    if (!trial && !run.MarkUndone())
        return -1;
    return 1;
}
