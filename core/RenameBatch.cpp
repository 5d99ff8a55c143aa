#include "core/RenameBatch.h"

#include "core/TagFile.h"
#include "platform/FileSystem.h"
#include "platform/FolderSearch.h"
#include "platform/ReadAhead.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

const char* const kUndoMovedBack = "Moved back";
const char* const kUndoNotMoved = "Under its old name already";
const char* const kUndoGone = "Failed, File is gone! ";
const char* const kUndoNameTaken = "Failed, Old name is taken! ";
const char* const kUndoFailed = "Failed, Unable to move the file back! ";
const char* const kUndoReplaced = "Failed, Another file has the new name! ";
const char* const kUndoDamaged = "Failed, Damaged journal record! ";

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

bool EntryId(int folder, const std::string& name, FileId& id)
{
    return FileIdAt(folder, name.c_str(), 0, id);
}

nlink_t LinkCount(int folder, const std::string& name)
{
    struct stat st;
    return fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? st.st_nlink : 0;
}

// What a trial takes the folders to hold: the names it has moved so far, over
// what the disk holds.
class FolderModel
{
public:
    // The identity of the entry name in folder, as the trial has left it.
    bool Entry(std::uint32_t folder, int fd, const std::string& name, FileId& id) const
    {
        const auto it = m_names.find(Key(folder, name));
        if (it == m_names.end())
            return EntryId(fd, name, id);
        id = it->second.second;
        return it->second.first;
    }

    // MoveNoReplaceAt as it would go: 1, or 0 with err as errno would be.
    int Move(std::uint32_t folder, int fd, const std::string& from, const std::string& to, int& err)
    {
        FileId moving, there;
        if (!Entry(folder, fd, from, moving)) {
            err = ENOENT;
            return 0;
        }
        if (from == to)
            return 1;
        if (Entry(folder, fd, to, there) && !SameEntry(folder, fd, from, to)) {
            err = EEXIST;
            return 0;
        }
        const Folder& rights = RightsOf(folder, fd);
        if (!rights.writable) {
            err = EACCES;
            return 0;
        }
        struct stat st;
        if (rights.stickyForMe && fstatat(fd, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && st.st_uid != geteuid()) {
            err = EPERM;   // a shared folder: only the owner may move the file
            return 0;
        }
        m_names[Key(folder, from)] = {false, FileId{}};
        m_names[Key(folder, to)] = {true, moving};
        return 1;
    }

private:
    static std::string Key(std::uint32_t folder, const std::string& name)
    {
        return std::to_string(folder) + '/' + name;
    }

    // Both names lead to one file on disk: a case change on a file system
    // that ignores case, which the move allows.
    bool SameEntry(std::uint32_t folder, int fd, const std::string& from, const std::string& to) const
    {
        if (m_names.count(Key(folder, from)) != 0 || m_names.count(Key(folder, to)) != 0)
            return false;
        struct stat a, b;
        return fstatat(fd, from.c_str(), &a, AT_SYMLINK_NOFOLLOW) == 0
               && fstatat(fd, to.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 && a.st_dev == b.st_dev
               && a.st_ino == b.st_ino && a.st_nlink == 1 && !S_ISDIR(a.st_mode);
    }

    struct Folder
    {
        bool writable;
        bool stickyForMe;   // sticky and not ours: others' files stay put
    };

    const Folder& RightsOf(std::uint32_t index, int fd)
    {
        const auto it = m_folders.find(index);
        if (it != m_folders.end())
            return it->second;
        Folder folder{faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) == 0, false};
        struct stat st;
        if (geteuid() != 0 && fstat(fd, &st) == 0)
            folder.stickyForMe = (st.st_mode & S_ISVTX) != 0 && st.st_uid != geteuid();
        return m_folders.emplace(index, folder).first->second;
    }

    std::unordered_map<std::string, std::pair<bool, FileId>> m_names;
    std::unordered_map<std::uint32_t, Folder> m_folders;
};

} // namespace

std::string ReasonOf(int err)
{
    switch (err) {
    case 0: return std::string();
    case kFolderReplaced: return "the folder was replaced since it was searched";
    case ELOOP: return "a link where a folder was, not followed";
    default: return std::strerror(err);
    }
}

namespace {

std::string UnreadableReason(int err)
{
    if (err == EINVAL)
        return "not a regular file of 128 bytes or more";
    if (err == ELOOP)
        return "a link in a folder that others can write to, not followed";
    return ReasonOf(err);
}

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

CRenameBatch::CRenameBatch() : m_text(new TextStore) {}

CRenameBatch::~CRenameBatch() = default;

void CRenameBatch::Add(std::string_view path, std::string_view name, std::uint32_t folder)
{
    const std::string_view kept = m_text->Keep(path);
    const std::string_view keptName = kept.substr(kept.size() - name.size());
    m_files.push_back(File{kept, keptName, std::string_view(), FileId{}, folder, kNotRead, 0});
}

bool CRenameBatch::TrustsLinks(std::uint32_t folder, int fd)
{
    if (m_trust.size() <= folder)
        m_trust.resize(folder + 1, -1);
    if (m_trust[folder] < 0) {
        struct stat st;
        m_trust[folder] = fstat(fd, &st) == 0 && FolderTrustsLinks(st) ? 1 : 0;
    }
    return m_trust[folder] == 1;
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
        const int walked = WalkMp3Files(path, m_folders, m_entered, [&](const WalkedFile& file) {
            if (m_named.empty() || m_named.count({file.folder, file.name}) == 0)
                Add(file.path, file.name, file.folder);
            observer.Progress("Searching", m_files.size(), 0);
            stopped = observer.StopRequested();
            return !stopped;
        }, [&observer](const std::string& folder, int error) {
            observer.FolderUnopened(folder, error);
        });
        if (walked == 0)
            return 0;   // errno from the folder's open: not silently an empty run
        return stopped ? -2 : 1;
    }
    const std::string name(NameOf(path));
    if (!HasMp3Suffix(name.data(), name.size()) || !IsPlainName(name))
        return -1;
    const int fd = open(FolderPart(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat folder;
    if (fd < 0)
        return 0;
    if (fstat(fd, &folder) != 0) {
        close(fd);
        return 0;
    }
    const FileId id = IdOf(folder);
    if (name[0] != '.' && m_entered.count(id) != 0) {
        close(fd);
        return 1;   // a folder search has planned it already
    }
    const std::uint32_t index = m_folders.AddOpened(fd, id, true);
    if (index == CFolderTable::kNone) {
        const int err = errno;
        close(fd);
        errno = err;
        return 0;
    }
    if (m_named.emplace(index, name).second)
        Add(path, name, index);
    return 1;
}

bool CRenameBatch::ReadNames(bool artistFirst, BatchObserver& observer)
{
    std::string name, title, artist;
    const std::size_t total = m_files.size();
    // Folder and name are set when a file is added and only read from here on.
    CReadAhead ahead(m_folders, total, true, [this](std::size_t i, std::uint32_t& folder, std::string_view& entry) {
        folder = m_files[i].folder;
        entry = m_files[i].name;
    });
    std::chrono::steady_clock::time_point started;
    for (std::size_t i = 0; i < total; ++i) {
        if (observer.StopRequested())
            return false;
        observer.Progress("Reading tags", i, total);
        const bool timing = ahead.Timing();
        if (timing)
            started = std::chrono::steady_clock::now();
        File& file = m_files[i];
        name.assign(file.name);
        const int folder = m_folders.Open(file.folder);
        int fd = folder < 0 ? -1
                            : openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
        bool viaLink = false;
        if (fd < 0 && errno == ELOOP && TrustsLinks(file.folder, folder)) {
            fd = openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            viaLink = true;
        }
        std::string state = kStateUnwritable;
        if (fd >= 0) {
            // One look gives the kind, the size and the identity: the entry's
            // own (a link's, when read through one).
            FileId id;
            std::uint64_t size = 0;
            std::uint32_t mode = 0;
            if (!FileIdAt(fd, "", AT_EMPTY_PATH, id, &size, &mode) || (viaLink && !FileIdAt(folder, name.c_str(), 0, id))) {
                // errno says why
            } else if (!S_ISREG(mode)) {
                errno = EINVAL;   // a FIFO or a device that bears an MP3 name
            } else {
                file.id = id;
                state = TheTagFile().ReadSongNameFrom(fd, static_cast<long long>(size), title, artist);
            }
            const int err = errno;
            close(fd);
            errno = err;
        }
        ahead.At(i, timing ? std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() : 0.0);
        if (state == kStateSuccessful) {
            file.newName = m_text->Keep(ComposeTargetName(title, artist, artistFirst));
            file.read = kNameFound;
        } else {
            file.read = state == kStateUnwritable ? kUnreadable : kNoSongName;
            file.error = state == kStateUnwritable ? errno : 0;
        }
    }
    observer.Progress("Reading tags", total, total);
    return true;
}

namespace {

// Moves recorded together: one write for up to this many, or this many bytes.
constexpr std::size_t kBatchMoves = 256;
constexpr std::size_t kBatchBytes = 1 << 16;

} // namespace

void CRenameBatch::ReportUnread(const File& file, BatchObserver& observer) const
{
    const bool unreadable = file.read == kUnreadable;
    observer.FileDone(FileResult{unreadable ? kStateUnwritable : kStateSongNotFound, file.path,
                                 std::string_view(), Outcome::Failed,
                                 unreadable ? UnreadableReason(file.error) : std::string()});
}

int CRenameBatch::Perform(CRunJournal* journal, BatchObserver& observer)
{
    if (journal == nullptr)
        return Trial(observer);
    std::string name, target;
    std::vector<std::uint64_t> seqs;
    const std::size_t total = m_files.size();
    for (std::size_t begin = 0; begin < total;) {
        // The next batch's moves are on disk before the first of them is made.
        std::size_t end = begin;
        seqs.clear();
        while (end < total && seqs.size() < kBatchMoves && journal->Queued() < kBatchBytes) {
            const File& file = m_files[end++];
            if (file.read == kNameFound && file.name != file.newName) {
                name.assign(file.name);
                target.assign(file.newName);
                seqs.push_back(journal->QueueMove(m_folders, file.folder, name, target, file.id));
            }
        }
        if (!journal->WriteQueued())
            return -1;
        std::size_t next = 0;   // the batch's move in hand
        for (std::size_t i = begin; i < end; ++i) {
            if (observer.StopRequested()) {
                // Recorded but never tried: marked so, for the run's count.
                for (; next < seqs.size(); ++next)
                    journal->QueueFailed(seqs[next]);
                return 0;
            }
            observer.Progress("Renaming", i, total);
            const File& file = m_files[i];
            if (file.read != kNameFound) {
                ReportUnread(file, observer);
                continue;
            }
            name.assign(file.name);
            target.assign(file.newName);
            const bool recorded = name != target;
            const int folder = m_folders.Open(file.folder);
            bool moved = folder >= 0 && MoveNoReplaceAt(folder, name, target) == 1;
            const int err = moved ? 0 : errno;
            if (recorded && !moved)
                journal->QueueFailed(seqs[next]);
            next += recorded ? 1 : 0;
            const Outcome outcome = !moved ? Outcome::Failed : recorded ? Outcome::Renamed : Outcome::Unchanged;
            observer.FileDone(FileResult{moved ? kStateSuccessful : kStateRenameFailed, file.path,
                                         file.newName, outcome, moved ? std::string() : ReasonOf(err)});
        }
        begin = end;
    }
    observer.Progress("Renaming", total, total);
    return 1;
}

int CRenameBatch::Trial(BatchObserver& observer)
{
    FolderModel model;
    std::string name, target;
    const std::size_t total = m_files.size();
    for (std::size_t i = 0; i < total; ++i) {
        if (observer.StopRequested())
            return 0;
        observer.Progress("Checking", i, total);
        const File& file = m_files[i];
        if (file.read != kNameFound) {
            ReportUnread(file, observer);
            continue;
        }
        name.assign(file.name);
        target.assign(file.newName);
        const int folder = m_folders.Open(file.folder);
        int err = folder < 0 ? errno : 0;
        const bool moved = folder >= 0 && model.Move(file.folder, folder, name, target, err) == 1;
        const Outcome outcome = !moved ? Outcome::Failed
                                : target == name ? Outcome::Unchanged : Outcome::Renamed;
        observer.FileDone(FileResult{moved ? kStateSuccessful : kStateRenameFailed, file.path,
                                     file.newName, outcome, moved ? std::string() : ReasonOf(err)});
    }
    observer.Progress("Checking", total, total);
    return 1;
}

namespace {

// Where an undo finds a move: the folder, and what its two names hold now.
class CUndoStep
{
public:
    CUndoStep(bool trial, FolderModel& model) : m_trial(trial), m_model(model) {}
    ~CUndoStep()
    {
        if (m_legacyFd >= 0)
            close(m_legacyFd);
    }

    // The folder's descriptor: by identity, or (version 1) by its path.
    int Folder(CRunFile& run, const RunMove& move, std::uint32_t& key)
    {
        if (move.legacyPath.empty()) {
            key = move.folder;
            return run.Folders().Open(move.folder);
        }
        const std::string folder = FolderPart(std::string(move.legacyPath));
        if (folder != m_legacyFolder) {
            if (m_legacyFd >= 0)
                close(m_legacyFd);
            m_legacyFolder = folder;
            m_legacyFd = OpenFolderNoFollow(folder);
            ++m_legacyKey;
        }
        key = UINT32_MAX - m_legacyKey;
        return m_legacyFd;
    }

    bool Entry(std::uint32_t key, int fd, const std::string& name, FileId& id) const
    {
        return m_trial ? m_model.Entry(key, fd, name, id) : EntryId(fd, name, id);
    }

private:
    bool m_trial;
    FolderModel& m_model;
    std::string m_legacyFolder;
    int m_legacyFd = -1;
    std::uint32_t m_legacyKey = 0;
};

} // namespace

int UndoRun(CRunFile& run, bool trial, BatchObserver& observer)
{
    const char* phase = trial ? "Checking" : "Undoing";
    std::vector<RunMove>& moves = run.Moves();
    for (const std::size_t offset : run.Damaged())
        observer.FileDone(FileResult{kUndoDamaged, run.Path(), std::string_view(), Outcome::Failed,
                                     "a damaged record at byte " + std::to_string(offset) + ", skipped"});
    FolderModel model;
    CUndoStep step(trial, model);
    // On a cold disk the names to look at are looked at ahead, newest first.
    CReadAhead ahead(run.Folders(), moves.size(), false, [&moves](std::size_t i, std::uint32_t& folder, std::string_view& entry) {
        const RunMove& move = moves[moves.size() - 1 - i];
        folder = move.legacyPath.empty() ? move.folder : CFolderTable::kNone;
        entry = move.newName;
    });
    std::chrono::steady_clock::time_point started;
    std::string oldName, newName, renamed, shownPath;
    std::uint32_t shownFolder = CFolderTable::kNone;
    int marked = 1;
    for (std::size_t n = 0; n < moves.size(); ++n) {
        if (observer.StopRequested()) {
            run.Flush();
            return 0;
        }
        observer.Progress(phase, n, moves.size());
        RunMove& move = moves[moves.size() - 1 - n];
        if (move.back)
            continue;
        const bool timing = ahead.Timing();
        if (timing)
            started = std::chrono::steady_clock::now();
        oldName.assign(move.oldName);
        newName.assign(move.newName);
        std::uint32_t key = 0;
        const int folder = step.Folder(run, move, key);
        const bool legacy = !move.legacyPath.empty();
        if (legacy || move.folder != shownFolder) {
            shownPath = legacy ? FolderPart(std::string(move.legacyPath)) : run.Folders().Path(move.folder);
            shownFolder = legacy ? CFolderTable::kNone : move.folder;
        }
        renamed = shownPath + "/" + newName;
        const char* state = kUndoMovedBack;
        Outcome outcome = Outcome::Renamed;
        int err = 0;
        if (folder < 0) {
            err = errno;
            state = kUndoFailed;
            outcome = Outcome::Failed;
        } else {
            // The new name first: in the common case it holds the file and
            // the move, which never replaces, is all that is left to do.
            FileId atOld, atNew;
            const bool newThere = step.Entry(key, folder, newName, atNew);
            // Version 1 kept no identities: its files are taken as they come.
            const bool newIsIt = newThere && (legacy || SameFile(atNew, move.file));
            int moved = 0;
            if (newIsIt) {
                moved = trial ? model.Move(key, folder, newName, oldName, err)
                              : MoveNoReplaceAt(folder, newName, oldName);
                if (!trial)
                    err = moved ? 0 : errno;
            }
            // A file swapped in between the look and the move would only get
            // a free name in the same folder, which whoever could swap it in
            // could give it too; so no second look after the move.
            if (moved == 0 && newIsIt && err != EEXIST) {
                state = kUndoFailed;
                outcome = Outcome::Failed;
            } else if (moved == 0) {
                // Refused, or not there: what does the old name hold?
                const bool oldThere = step.Entry(key, folder, oldName, atOld);
                const bool oldIsIt = oldThere && (legacy ? !newThere : SameFile(atOld, move.file));
                if (oldIsIt && newIsIt && LinkCount(folder, newName) >= 2) {
                    // Two links to the file: a move by link and unlink cut off
                    // between the two. Only the extra name goes.
                    if (!trial && unlinkat(folder, newName.c_str(), 0) != 0) {
                        err = errno;
                        state = kUndoFailed;
                        outcome = Outcome::Failed;
                    }
                } else if (oldIsIt && !newIsIt) {
                    state = kUndoNotMoved;   // never moved (a killed run), or moved back already
                    outcome = Outcome::Unchanged;
                } else if (newIsIt) {
                    state = kUndoNameTaken;
                    outcome = Outcome::Failed;
                } else {
                    state = newThere ? kUndoReplaced : kUndoGone;
                    outcome = Outcome::Failed;
                    err = 0;
                }
            }
        }
        ahead.At(n, timing ? std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() : 0.0);
        if (outcome != Outcome::Failed && !trial && !run.MarkBack(move))
            marked = 0;
        observer.FileDone(FileResult{state, renamed, move.oldName, outcome,
                                     outcome == Outcome::Failed && err != 0 ? ReasonOf(err) : std::string()});
    }
    observer.Progress(phase, moves.size(), moves.size());
    if (!trial && (!run.Flush() || !marked))
        return -1;
    return 1;
}
