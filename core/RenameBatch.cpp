// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/RenameBatch.h"

#include "core/FolderModel.h"
#include "core/TagFile.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"
#include "platform/FolderCrew.h"
#include "platform/ReadAhead.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>
#include <unordered_map>

// TRANSLATORS: the state of a file after the command-line tool's --undo; the
// "Failed, ..." states keep their trailing blank.
const char* const kUndoMovedBack = N_("Moved back");
const char* const kUndoNotMoved = N_("Under its old name already");
const char* const kUndoGone = N_("Failed, File is gone! ");
const char* const kUndoNameTaken = N_("Failed, Old name is taken! ");
const char* const kUndoFailed = N_("Failed, Unable to move the file back! ");
const char* const kUndoReplaced = N_("Failed, Another file has the new name! ");
const char* const kUndoDamaged = N_("Failed, Damaged journal record! ");

namespace {

// What ReadName found. kFolderGone: the file's folder is no longer the one
// searched or queued (swapped for a link or another folder).
// kOnlyId3v2: no song name, the file has an ID3v2 tag and no ID3v1 tag.
enum : std::uint8_t { kNotRead, kNameFound, kNoSongName, kUnreadable, kFolderGone, kOnlyId3v2 };

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

} // namespace

std::string ReasonOf(int err)
{
    switch (err) {
    case 0: return std::string();
    // TRANSLATORS: why a file failed, in the command-line tool's output.
    case kFolderReplaced: return N_("the folder was replaced since it was searched");
    // TRANSLATORS: why a file failed, in the command-line tool's output.
    case ELOOP: return N_("a link where a folder was, not followed");
    // English whatever the language: the reason goes into --tsv and --json.
    default: return EnglishErrorText(err);
    }
}

namespace {

std::string UnreadableReason(int err)
{
    if (err == EINVAL)
        return N_("not a regular file of 128 bytes or more");
    if (err == ELOOP)
        return N_("a link in a folder that others can write to, not followed");
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

CRenameBatch::CRenameBatch(CFolderTable* folders)
    : m_text(new TextStore),
      m_ownFolders(folders == nullptr ? new CFolderTable : nullptr),
      m_folders(folders == nullptr ? *m_ownFolders : *folders)
{
}

CRenameBatch::~CRenameBatch() = default;

void CRenameBatch::Add(std::string_view path, std::string_view name, std::uint32_t folder)
{
    const std::string_view prefix = path.substr(0, path.size() - name.size());
    if (m_prefixes.empty() || m_prefixes.back() != prefix)
        m_prefixes.push_back(m_text->Keep(prefix));
    File file{};
    file.name = m_text->Keep(name).data();
    file.nameLength = static_cast<std::uint16_t>(name.size());
    file.prefix = static_cast<std::uint32_t>(m_prefixes.size() - 1);
    file.folder = folder;
    file.read = kNotRead;
    m_files.push_back(file);
}

std::string_view CRenameBatch::PathOf(const File& file)
{
    m_path.assign(m_prefixes[file.prefix]).append(file.Name());
    return m_path;
}

FileId CRenameBatch::FileIdOf(std::size_t i) const
{
    if (!m_content.empty()) {
        const auto it = m_content.find(i);
        if (it != m_content.end())
            return it->second;
    }
    const File& file = m_files[i];
    return FileId{m_folders.Id(file.folder).device, file.inode, file.birth};
}

bool CRenameBatch::InodesLastOn(std::uint64_t device, int fd)
{
    // The kind of file system is the device's: on a share, a statfs a folder
    // would be one more round trip for every few files.
    const auto known = m_inodesLast.find(device);
    if (known != m_inodesLast.end())
        return known->second;
    return m_inodesLast.emplace(device, InodesLast(fd)).first->second;
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

void CRenameBatch::AddQueued(std::string_view path, std::uint32_t folder)
{
    Add(path, NameOf(path), folder);
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
            // TRANSLATORS: the command-line tool's progress line, "Searching: 12 files found".
            observer.Progress(N_("Searching"), m_files.size(), 0);
            stopped = observer.StopRequested();
            return !stopped;
        }, [&observer](const std::string& folder, int error) {
            observer.FolderUnopened(folder, error);
        }, m_maxDepth);
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
    const FileId id = ::IdOf(folder);
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

std::string CRenameBatch::RuleName(std::size_t i, int fd, std::uint64_t size, bool artistFirst, const Opened* opened)
{
    if (opened == nullptr || (!opened->tailRead && opened->headLength == 0))
        return m_rule->NewName(fd, static_cast<long long>(size), artistFirst, m_newName);
    // What was read side by side is not read again.
    const CKnownBytes known(fd, 0, &m_heads[m_rule->HeadBytes() * (i - m_openedFrom)], opened->headLength,
                            static_cast<long long>(size - kContentBytes), opened->tail,
                            opened->tailRead ? kContentBytes : 0);
    return m_rule->NewName(fd, static_cast<long long>(size), artistFirst, m_newName);
}

void CRenameBatch::ReadName(std::size_t i, bool artistFirst, const Opened* opened)
{
    File& file = m_files[i];
    m_name.assign(file.Name());
    file.viaLink = false;
    // Opened side by side already, unless through a link, which only the
    // plan may decide to follow.
    if (opened != nullptr && opened->fd < 0 && opened->err == ELOOP)
        opened = nullptr;
    int folder = -1;
    int fd = -1;
    if (opened != nullptr) {
        fd = opened->fd;
        errno = opened->err;
        folder = opened->folderErr != 0 ? (errno = opened->folderErr, -1) : 0;
    } else {
        folder = file.folder == CFolderTable::kNone ? (errno = ENOENT, -1) : m_folders.Open(file.folder);
    }
    if (folder < 0 && (errno == kFolderReplaced || errno == ELOOP)) {
        file.read = kFolderGone;
        file.error = static_cast<std::uint8_t>(errno);
        return;
    }
    if (opened == nullptr && folder >= 0)
        fd = openat(folder, m_name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    bool viaLink = false;
    if (opened == nullptr && fd < 0 && errno == ELOOP && TrustsLinks(file.folder, folder)) {
        fd = openat(folder, m_name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        viaLink = true;
    }
    std::string state = kStateUnreadable;
    bool onlyId3v2 = false;
    if (fd >= 0) {
        // One look gives the kind, the size and the identity: the entry's
        // own (a link's, when read through one).
        FileId id;
        std::uint64_t size = 0;
        std::uint32_t mode = 0;
        // The tag's last bytes, read once: side by side already, or here for
        // a content identity (on a share, each read is a round trip).
        const unsigned char* tail = opened != nullptr && opened->tailRead ? opened->tail : nullptr;
        unsigned char own[kContentBytes];
        const auto identify = [&] {
            if (tail != nullptr) {
                ContentOfTail(size, tail, id);
                return true;
            }
            const bool whole = size >= kContentBytes;
            if (!Content(fd, size, id, whole ? own : nullptr))
                return false;
            if (whole)
                tail = own;
            return true;
        };
        if (opened != nullptr) {
            id = opened->id, size = opened->size, mode = opened->mode;
            errno = opened->lookErr;
        }
        if (opened != nullptr ? opened->lookErr != 0
                              : !FileIdAt(fd, "", AT_EMPTY_PATH, id, &size, &mode)
                                    || (viaLink && !FileIdAt(folder, m_name.c_str(), 0, id))) {
            // errno says why
        } else if (!S_ISREG(mode)) {
            errno = EINVAL;   // a FIFO or a device that bears an MP3 name
        } else if (!viaLink && !InodesLastOn(id.device, fd) && !identify()) {
            // errno says why; a file read through a link keeps the link's
            // inode (an undo then refuses it where numbers do not last)
        } else {
            if (id.byContent)
                m_content[i] = id;
            else if (!m_content.empty())
                m_content.erase(i);
            file.inode = id.inode;
            file.birth = id.birth;
            file.viaLink = viaLink;
            static_assert(kContentBytes == kTagSize, "the identity's bytes are the tag's");
            state = m_rule != nullptr ? RuleName(i, fd, size, artistFirst, opened)
                    : tail != nullptr ? TheTagFile().SongNameOfTail(tail, m_title, m_artist)
                                      : TheTagFile().ReadSongNameFrom(fd, static_cast<long long>(size), m_title, m_artist);
            // Looked at only for a file the window's rule cannot name.
            onlyId3v2 = m_rule == nullptr && state == kStateSongNotFound
                        && HasId3v2ButNoId3v1(fd, static_cast<long long>(size));
        }
        const int err = errno;
        if (opened == nullptr)
            close(fd);   // else the side's to close
        errno = err;
    }
    if (state == kStateSuccessful) {
        if (m_rule == nullptr)
            m_newName = ComposeTargetName(m_title, m_artist, artistFirst);
        FitFileName(m_newName);   // the plan keeps lengths in 16 bits
        const std::string_view kept = m_text->Keep(m_newName);
        file.newName = kept.data();
        file.newNameLength = static_cast<std::uint16_t>(kept.size());
        file.read = kNameFound;
    } else {
        file.read = state == kStateUnreadable ? kUnreadable : onlyId3v2 ? kOnlyId3v2 : kNoSongName;
        file.error = static_cast<std::uint8_t>(state == kStateUnreadable ? errno : 0);
    }
}

namespace {

// Files read, recorded and moved together: one write of records for each
// batch, and a folder's metadata still in the caches when its files move.
constexpr std::size_t kBatchFiles = 256;

// The names a batch takes or leaves, by folder, kept as hashes in a table
// with no allocation a name: two names that hash alike only end a batch
// early, which is always safe.
class CTouched
{
public:
    void Clear() { std::fill(m_slots.begin(), m_slots.end(), 0); }
    bool Has(std::uint32_t folder, std::string_view name) const
    {
        const std::uint64_t hash = Hash(folder, name);
        for (std::size_t at = hash & kMask;; at = (at + 1) & kMask) {
            if (m_slots[at] == hash)
                return true;
            if (m_slots[at] == 0)
                return false;
        }
    }
    void Add(std::uint32_t folder, std::string_view name)
    {
        const std::uint64_t hash = Hash(folder, name);
        std::size_t at = hash & kMask;
        while (m_slots[at] != 0 && m_slots[at] != hash)
            at = (at + 1) & kMask;
        m_slots[at] = hash;
    }

private:
    // Two names a file, half full at most.
    static constexpr std::size_t kSlots = 4 * kBatchFiles;
    static constexpr std::size_t kMask = kSlots - 1;
    static std::uint64_t Hash(std::uint32_t folder, std::string_view name)
    {
        std::uint64_t hash = 0xcbf29ce484222325ull ^ folder;
        for (const char c : name)
            hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
        return hash != 0 ? hash : 1;   // 0 marks a free slot
    }
    std::vector<std::uint64_t> m_slots = std::vector<std::uint64_t>(kSlots, 0);
};

} // namespace

void CRenameBatch::ReportUnread(std::size_t i, BatchObserver& observer)
{
    const File& file = m_files[i];
    FileResult result{kStateSongNotFound, PathOf(file), std::string_view(), Outcome::Failed, std::string()};
    if (file.read == kUnreadable) {
        result.state = kStateUnreadable;
        result.reason = UnreadableReason(file.error);
    } else if (file.read == kOnlyId3v2) {
        result.onlyId3v2 = true;
    } else if (file.read == kFolderGone) {
        // Nothing of it was read: the folder is another one now.
        result.state = kStateRenameFailed;
        result.reason = ReasonOf(file.error);
    }
    result.item = i;
    observer.FileDone(result);
}

void CRenameBatch::OpenSideBySide(std::size_t begin, std::size_t end)
{
    m_openedFrom = begin;
    m_opened.assign(end - begin, Opened{});
    const std::size_t head = m_rule != nullptr ? m_rule->HeadBytes() : 0;
    m_heads.resize(head * (end - begin));
    std::vector<std::uint32_t> folderOf;
    for (std::size_t i = begin; i < end; ++i)
        folderOf.push_back(m_files[i].folder);
    CCrewFolders folders(m_folders);
    RunByFolder(folderOf, CrewThreadsNow(), [&](std::size_t k) {
        const File& file = m_files[begin + k];
        Opened& opened = m_opened[k];
        const int folder = folders.Open(file.folder);
        if (folder < 0) {
            opened.folderErr = errno;
            return;
        }
        opened.fd = openat(folder, std::string(file.Name()).c_str(),
                           O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
        opened.err = opened.fd < 0 ? errno : 0;
        close(folder);
        if (opened.fd < 0)
            return;
        if (!FileIdAt(opened.fd, "", AT_EMPTY_PATH, opened.id, &opened.size, &opened.mode)) {
            opened.lookErr = errno != 0 ? errno : EIO;
            return;
        }
        // The tag's bytes, which are the identity's too: the plan reads them
        // from here (a failed read is the plan's to make again, and report).
        opened.tailRead = S_ISREG(opened.mode) && opened.size >= kContentBytes
                          && ReadAt(opened.fd, opened.tail, kContentBytes,
                                    static_cast<long long>(opened.size - kContentBytes));
        // And the head the rule reads first.
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(head, opened.size));
        if (S_ISREG(opened.mode) && want > 0 && ReadAt(opened.fd, &m_heads[head * k], want, 0))
            opened.headLength = want;
    });
}

void CRenameBatch::CloseOpened()
{
    std::vector<std::uint32_t> folderOf;
    for (std::size_t k = 0; k < m_opened.size(); ++k)
        folderOf.push_back(m_files[m_openedFrom + k].folder);
    // A close on a share waits for its answer too.
    RunByFolder(folderOf, CrewThreadsNow(), [this](std::size_t k) {
        if (m_opened[k].fd >= 0)
            close(m_opened[k].fd);
    });
    m_opened.clear();
}

void CRenameBatch::MoveSideBySide(std::size_t begin, std::size_t end)
{
    m_movesFrom = begin;
    m_moves.assign(end - begin, MoveDone{});
    std::vector<std::uint32_t> folderOf;
    std::vector<std::size_t> items;
    for (std::size_t i = begin; i < end; ++i) {
        if (m_files[i].read == kNameFound) {
            folderOf.push_back(m_files[i].folder);
            items.push_back(i);
        }
    }
    CCrewFolders folders(m_folders);
    RunByFolder(folderOf, CrewThreadsNow(), [&](std::size_t k) {
        const File& file = m_files[items[k]];
        MoveDone& done = m_moves[items[k] - begin];
        std::uint64_t device = 0;
        const int fd = folders.Open(file.folder, &device);
        if (fd < 0) {
            done.err = errno;
            return;
        }
        const int result = MoveNoReplaceAt(fd, device, std::string(file.Name()), std::string(file.NewName()));
        done.moved = result == 1;
        done.err = done.moved ? 0 : errno;
        done.unsettled = result < 0;
        close(fd);
    });
}

int CRenameBatch::Run(bool artistFirst, CRunRecorder* journal, BatchObserver& observer, bool journalOptional)
{
    const bool trial = journal == nullptr;
    // TRANSLATORS: the command-line tool's progress line, "Renaming: 3 of 12
    // files, 40 files/s"; Checking is a dry run's.
    const char* phase = !trial ? N_("Renaming") : N_("Checking");
    const std::size_t total = m_files.size();
    // Folder and name are set when a file is added and only read from here on.
    CReadAhead ahead(m_folders, total, true, [this](std::size_t i, std::uint32_t& folder, std::string_view& entry) {
        folder = m_files[i].folder;
        entry = m_files[i].Name();
    }, CReadAhead::kSlowRead);
    CFolderModel model(
        [this](std::uint32_t item, bool isNew) {
            const File& file = m_files[item];
            return CFolderModel::Name{file.folder, isNew ? file.NewName() : file.Name()};
        },
        [this](std::uint32_t item) { return FileIdOf(item); }, true);
    if (trial)
        model.Reserve(2 * total);   // each move frees one name and takes one
    std::vector<std::uint64_t> seqs;
    // The names the batch in hand takes or leaves, by folder.
    CTouched touched;
    std::string name, target;
    int standIn = -1;
    struct Closer
    {
        int& fd;
        ~Closer()
        {
            if (fd >= 0)
                close(fd);
        }
    } closeStandIn{standIn};
    // Files opened side by side are closed on every way out.
    struct OpenedCloser
    {
        CRenameBatch& batch;
        ~OpenedCloser()
        {
            if (!batch.m_opened.empty())
                batch.CloseOpened();
        }
    } closeOpened{*this};
    for (std::size_t begin = 0, end = 0; begin < total; begin = end) {
        end = std::min(total, begin + kBatchFiles);
        touched.Clear();
        for (std::size_t i = begin; i < end; ++i) {
            if (observer.StopRequested())
                return 0;   // nothing of this batch recorded or moved yet
            const File& file = m_files[i];
            if (i > begin && touched.Has(file.folder, file.Name())) {
                end = i;   // an earlier move of the batch changes what it names
                break;
            }
            observer.Progress(phase, i, total);
            if (m_readPace.Slow()) {
                // Slow here: the next files of the batch are opened side by
                // side (what the plan then reads of them is in the caches),
                // and read in plan order as ever.
                if (i >= m_openedFrom + m_opened.size() || i < m_openedFrom) {
                    if (!m_opened.empty())
                        CloseOpened();
                    ahead.Stop();
                    OpenSideBySide(i, std::min(end, i + 8 * static_cast<std::size_t>(CrewThreadsNow())));
                }
                ReadName(i, artistFirst, &m_opened[i - m_openedFrom]);
            } else {
                ahead.Begin();
                const auto begun = std::chrono::steady_clock::now();
                ReadName(i, artistFirst);
                if (m_readPace.Timing())
                    m_readPace.Took(std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count());
                ahead.At(i);
            }
            if (i > begin && file.viaLink) {
                end = i;   // read again first in the next batch
                break;
            }
            touched.Add(file.folder, file.Name());
            if (file.read == kNameFound)
                touched.Add(file.folder, file.NewName());
        }
        if (!m_opened.empty())
            CloseOpened();   // those past a cut are opened again in the next batch
        // A trial holds a descriptor where the real run has opened its
        // journal's file by now, so that it runs short of descriptors where
        // the real run would.
        for (std::size_t i = begin; trial && standIn < 0 && i < end; ++i) {
            if (m_files[i].read == kNameFound && m_files[i].Name() != m_files[i].NewName())
                standIn = open("/dev/null", O_RDONLY | O_CLOEXEC);
        }
        // The batch's moves are on disk before the first of them is made.
        seqs.clear();
        for (std::size_t i = begin; journal != nullptr && i < end; ++i) {
            const File& file = m_files[i];
            if (file.read == kNameFound && file.Name() != file.NewName()) {
                name.assign(file.Name());
                target.assign(file.NewName());
                seqs.push_back(journal->QueueMove(m_folders, file.folder, name, target, FileIdOf(i)));
            }
        }
        if (journal != nullptr && !journal->WriteQueued()) {
            if (!journalOptional)
                return -1;
            observer.JournalLost(errno);
            journal = nullptr;   // renamed all the same, without records
            seqs.clear();
        }
        std::size_t next = 0;   // the batch's recorded move in hand
        // Reports file i of the batch, in plan order, with how its move went.
        const auto report = [&](std::size_t i, bool moved, int err, bool unsettled) {
            const File& file = m_files[i];
            const bool same = file.Name() == file.NewName();
            std::uint64_t seq = 0;
            if (journal != nullptr && !same) {
                // A move that may have left a name behind stays recorded, for
                // the undo to put right.
                if (!moved && !unsettled)
                    journal->QueueFailed(seqs[next]);
                else
                    seq = seqs[next];
                ++next;
            }
            const Outcome outcome = !moved ? Outcome::Failed : same ? Outcome::Unchanged : Outcome::Renamed;
            FileResult result{moved ? kStateSuccessful : kStateRenameFailed, PathOf(file), file.NewName(), outcome,
                              moved ? std::string() : ReasonOf(err)};
            result.item = i;
            result.file = FileIdOf(i);
            result.seq = seq;
            observer.FileDone(result);
        };
        const auto stop = [&] {
            // Recorded but never tried: marked so, for the run's count.
            for (; journal != nullptr && next < seqs.size(); ++next)
                journal->QueueFailed(seqs[next]);
            return 0;
        };
        std::size_t i = begin;
        for (; i < end && (trial || !m_pace.Slow()); ++i) {
            if (observer.StopRequested())
                return stop();
            const File& file = m_files[i];
            if (file.read != kNameFound) {
                ReportUnread(i, observer);
                continue;
            }
            const int folder = m_folders.Open(file.folder);
            int err = folder < 0 ? errno : 0;
            bool moved = false;
            bool unsettled = false;
            if (folder >= 0 && trial) {
                moved = model.Move(static_cast<std::uint32_t>(i), true, folder, err) == 1;
            } else if (folder >= 0) {
                name.assign(file.Name());
                target.assign(file.NewName());
                const auto begun = std::chrono::steady_clock::now();
                const int result = MoveNoReplaceAt(folder, m_folders.Id(file.folder).device, name, target);
                moved = result == 1;
                err = moved ? 0 : errno;
                unsettled = result < 0;
                if (m_pace.Timing())
                    m_pace.Took(std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count());
            }
            report(i, moved, err, unsettled);
        }
        if (i < end) {
            // Moves are slow here: the rest of the batch's are made side by
            // side across folders (its names are all apart), and reported
            // in plan order.
            if (observer.StopRequested())
                return stop();
            MoveSideBySide(i, end);
            for (; i < end; ++i) {
                if (m_files[i].read != kNameFound)
                    ReportUnread(i, observer);
                else
                    report(i, m_moves[i - m_movesFrom].moved, m_moves[i - m_movesFrom].err,
                           m_moves[i - m_movesFrom].unsettled);
            }
        }
    }
    observer.Progress(phase, total, total);
    return 1;
}

namespace {

// Where an undo finds a move: the folder, and what its two names hold now.
class CUndoStep
{
public:
    explicit CUndoStep(std::deque<RunMove>& moves)
        : m_model(
              [this, &moves](std::uint32_t item, bool isNew) {
                  const RunMove& move = moves[item];
                  return CFolderModel::Name{FolderKey(move), isNew ? move.newName : move.oldName};
              },
              [&moves](std::uint32_t item) { return moves[item].file; }, false)
    {
    }
    ~CUndoStep()
    {
        if (m_legacyFd >= 0)
            close(m_legacyFd);
    }

    // The folder's descriptor: by identity, or (version 1) by its path.
    int Folder(CPastRun& run, const RunMove& move)
    {
        if (move.legacyPath.empty())
            return run.Folders().Open(move.folder);
        const std::string folder = FolderPart(std::string(move.legacyPath));
        if (folder != m_legacyFolder) {
            if (m_legacyFd >= 0)
                close(m_legacyFd);
            m_legacyFolder = folder;
            m_legacyFd = OpenFolderNoFollow(folder);
        }
        return m_legacyFd;
    }

    CFolderModel& Model() { return m_model; }

private:
    // Version 1 moves name their folder by path: the same path, the same key.
    std::uint32_t FolderKey(const RunMove& move)
    {
        if (move.legacyPath.empty())
            return move.folder;
        const std::string_view folder = move.legacyPath.substr(0, move.legacyPath.rfind('/'));
        return CFolderTable::kNone - m_legacyKeys.emplace(folder, m_legacyKeys.size()).first->second - 1;
    }

    CFolderModel m_model;
    std::unordered_map<std::string_view, std::uint32_t> m_legacyKeys;
    std::string m_legacyFolder;
    int m_legacyFd = -1;
};

} // namespace

UndoVerdict DecideUndo(UndoHolds atNew, int moveError, UndoHolds atOld, bool twoNames)
{
    if (atNew == UndoHolds::TheFile) {
        if (moveError == 0)
            return UndoVerdict::MovedBack;
        if (moveError != EEXIST)
            return UndoVerdict::MoveFailed;
        // Two links to the file: a move by link and unlink cut off between
        // the two. Only the extra name goes.
        if (atOld == UndoHolds::TheFile && twoNames)
            return UndoVerdict::DropExtraName;
        return UndoVerdict::OldNameTaken;
    }
    // Never moved (a killed run), or moved back already, by whoever.
    if (atOld == UndoHolds::TheFile)
        return UndoVerdict::AlreadyBack;
    return atNew == UndoHolds::Another ? UndoVerdict::Replaced : UndoVerdict::Gone;
}

UndoVerdict UndoMoveAt(int folder, const std::string& oldName, const std::string& newName, const FileId& file,
                       bool legacy, int& err, CFolderModel* model, std::uint32_t item, std::uint64_t device)
{
    err = 0;
    const bool trial = model != nullptr;
    // The new name first: in the common case it holds the file and the move,
    // which never replaces, is all that is left to do.
    FileId atNew, atOld;
    bool newThere = false;
    if (trial) {
        newThere = model->Entry(item, true, folder, atNew);
    } else if (!legacy && file.byContent) {
        // Known by content: one open reads what IsTheFile compares, without
        // a look at the name first (on a share, each is a round trip).
        // What cannot be read so (a link, no regular file, no access) is
        // looked at as before, and found not to be the file.
        newThere = ContentIdAt(folder, newName.c_str(), atNew) || (errno != ENOENT && EntryId(folder, newName, atNew));
    } else {
        newThere = EntryId(folder, newName, atNew);
    }
    // Version 1 kept no identities: its files are taken as they come.
    const UndoHolds holdsNew = !newThere ? UndoHolds::Nothing
                               : legacy || IsTheFile(folder, newName.c_str(), atNew, file) ? UndoHolds::TheFile
                                                                 : UndoHolds::Another;
    int moveError = -1;
    if (holdsNew == UndoHolds::TheFile) {
        // A file swapped in between the look and the move would only get a
        // free name in the same folder, which whoever could swap it in could
        // give it too; so no second look after the move.
        const int moved = trial ? model->Move(item, false, folder, moveError)
                                : MoveNoReplaceAt(folder, device, newName, oldName);
        if (!trial)
            moveError = moved == 1 ? 0 : errno;
        else if (moved)
            moveError = 0;
        // An empty placeholder under the old name is what an undo that could
        // not finish (its file system gone) left: it goes, and the move is
        // tried once more.
        if (!trial && moveError == EEXIST && IsOurPlaceholder(folder, oldName.c_str())
            && EntryId(folder, oldName, atOld) && !IsTheFile(folder, oldName.c_str(), atOld, file)
            && unlinkat(folder, oldName.c_str(), 0) == 0)
            moveError = MoveNoReplaceAt(folder, device, newName, oldName) == 1 ? 0 : errno;
    }
    UndoHolds holdsOld = UndoHolds::Nothing;
    bool twoNames = false;
    if (moveError != 0 && (holdsNew != UndoHolds::TheFile || moveError == EEXIST)) {
        // Refused, or not there: what does the old name hold?
        const bool oldThere = trial ? model->Entry(item, false, folder, atOld) : EntryId(folder, oldName, atOld);
        const bool oldIsIt = oldThere && (legacy ? !newThere : IsTheFile(folder, oldName.c_str(), atOld, file));
        holdsOld = !oldThere ? UndoHolds::Nothing : oldIsIt ? UndoHolds::TheFile : UndoHolds::Another;
        twoNames = oldIsIt && holdsNew == UndoHolds::TheFile && LinkCount(folder, newName) >= 2;
    }
    // A change of letter case goes by way of a known name: a kill between
    // its two moves (the run's, or an undo's) leaves the file there.
    UndoVerdict verdict = DecideUndo(holdsNew, moveError, holdsOld, twoNames);
    const bool caseOnly = !legacy && oldName.size() == newName.size() && strcasecmp(oldName.c_str(), newName.c_str()) == 0;
    if ((verdict == UndoVerdict::Gone || verdict == UndoVerdict::Replaced) && caseOnly && !trial) {
        for (const std::string& detour : {CaseDetourName(oldName), CaseDetourName(newName)}) {
            FileId atDetour;
            if (EntryId(folder, detour, atDetour) && SameFile(atDetour, file)) {
                // Killed after the claim of the last name: that placeholder
                // (under either spelling, where case folds) goes first.
                for (const std::string& name : {newName, oldName}) {
                    if (IsOurPlaceholder(folder, name.c_str()))
                        (void)unlinkat(folder, name.c_str(), 0);   // else the move below fails, and says so
                }
                verdict = MoveNoReplaceAt(folder, device, detour, oldName) == 1 ? UndoVerdict::MovedBack
                                                                                 : UndoVerdict::MoveFailed;
                moveError = verdict == UndoVerdict::MovedBack ? 0 : errno;
                break;
            }
        }
    }
    // Never moved, and the new name (or the way to it) holds what a kill
    // between the claim of a name and the move leaves: that placeholder goes.
    if (verdict == UndoVerdict::AlreadyBack && !trial) {
        if (holdsNew == UndoHolds::Another && IsOurPlaceholder(folder, newName.c_str()))
            (void)unlinkat(folder, newName.c_str(), 0);   // failing that, an empty file stays: nothing lost
        for (const std::string& detour : {CaseDetourName(oldName), CaseDetourName(newName)}) {
            if (caseOnly && IsOurPlaceholder(folder, detour.c_str()))
                (void)unlinkat(folder, detour.c_str(), 0);
        }
    }
    if (verdict == UndoVerdict::DropExtraName && !trial && unlinkat(folder, newName.c_str(), 0) != 0) {
        err = errno;
        return UndoVerdict::MoveFailed;
    }
    if (verdict == UndoVerdict::MoveFailed || verdict == UndoVerdict::OldNameTaken)
        err = moveError;
    return verdict;
}

namespace {

// Moves back, side by side across folders, the moves from n on (newest
// first) up to one whose names an earlier one of them takes or leaves, a
// version 1 move, or kBatchFiles of them; then reports them in order.
// Returns where the next move is.
template <typename Finish>
std::size_t UndoSideBySide(CPastRun& run, std::size_t n, std::vector<std::size_t>& batch, Finish& finish)
{
    std::deque<RunMove>& moves = run.Moves();
    CTouched touched;
    batch.clear();
    std::size_t at = n;
    for (; at < moves.size() && batch.size() < kBatchFiles; ++at) {
        const RunMove& move = moves[moves.size() - 1 - at];
        if (move.back)
            continue;
        if (!move.legacyPath.empty() || touched.Has(move.folder, move.oldName) || touched.Has(move.folder, move.newName))
            break;
        touched.Add(move.folder, move.oldName);
        touched.Add(move.folder, move.newName);
        batch.push_back(at);
    }
    struct Done
    {
        UndoVerdict verdict = UndoVerdict::MoveFailed;
        int err = 0;
    };
    std::vector<Done> done(batch.size());
    std::vector<std::uint32_t> folderOf;
    for (const std::size_t k : batch)
        folderOf.push_back(moves[moves.size() - 1 - k].folder);
    CCrewFolders folders(run.Folders());
    RunByFolder(folderOf, CrewThreadsNow(), [&](std::size_t j) {
        const RunMove& move = moves[moves.size() - 1 - batch[j]];
        std::uint64_t device = 0;
        const int fd = folders.Open(move.folder, &device);
        if (fd < 0) {
            done[j].err = errno;
            return;
        }
        done[j].verdict = UndoMoveAt(fd, std::string(move.oldName), std::string(move.newName), move.file, false,
                                     done[j].err, nullptr, 0, device);
        close(fd);
    });
    for (std::size_t j = 0; j < batch.size(); ++j)
        finish(batch[j], moves[moves.size() - 1 - batch[j]], done[j].verdict, done[j].err);
    return at;
}

} // namespace

int UndoRun(CPastRun& run, bool trial, BatchObserver& observer)
{
    const char* phase = trial ? N_("Checking") : N_("Undoing");
    std::deque<RunMove>& moves = run.Moves();
    for (const std::size_t offset : run.Damaged())
        observer.FileDone(FileResult{kUndoDamaged, run.Path(), std::string_view(), Outcome::Failed,
                                     "a damaged record at byte " + std::to_string(offset) + ", skipped"});
    CUndoStep step(moves);
    CFolderModel& model = step.Model();
    // On a cold disk the names to look at are looked at ahead, newest first.
    CReadAhead ahead(run.Folders(), moves.size(), false, [&moves](std::size_t i, std::uint32_t& folder, std::string_view& entry) {
        const RunMove& move = moves[moves.size() - 1 - i];
        folder = move.legacyPath.empty() ? move.folder : CFolderTable::kNone;
        entry = move.newName;
    }, CReadAhead::kSlowMove);
    std::string oldName, newName, renamed, shownPath;
    std::uint32_t shownFolder = CFolderTable::kNone;
    int marked = 1;
    // Reports move n (newest first) with its verdict, and marks it back.
    const auto finish = [&](std::size_t n, RunMove& move, UndoVerdict verdict, int err) {
        const bool legacy = !move.legacyPath.empty();
        if (legacy || move.folder != shownFolder) {
            shownPath = legacy ? FolderPart(std::string(move.legacyPath)) : run.Folders().Path(move.folder);
            shownFolder = legacy ? CFolderTable::kNone : move.folder;
        }
        renamed = shownPath + "/";
        renamed += move.newName;
        const char* state = kUndoFailed;
        Outcome outcome = Outcome::Failed;
        switch (verdict) {
        case UndoVerdict::MovedBack:
        case UndoVerdict::DropExtraName: state = kUndoMovedBack; outcome = Outcome::Renamed; break;
        case UndoVerdict::AlreadyBack: state = kUndoNotMoved; outcome = Outcome::Unchanged; break;
        case UndoVerdict::OldNameTaken: state = kUndoNameTaken; break;
        case UndoVerdict::Replaced: state = kUndoReplaced; break;
        case UndoVerdict::Gone: state = kUndoGone; break;
        case UndoVerdict::MoveFailed: break;
        }
        (void)n;
        if (outcome != Outcome::Failed && !trial && !run.MarkBack(move))
            marked = 0;
        observer.FileDone(FileResult{state, renamed, move.oldName, outcome,
                                     outcome == Outcome::Failed && err != 0 ? ReasonOf(err) : std::string()});
    };
    CMovePace pace;
    std::vector<std::size_t> batch;
    for (std::size_t n = 0; n < moves.size();) {
        if (observer.StopRequested()) {
            // A failure is kept by the run: the caller's own Flush tells it.
            (void)run.Flush();
            return 0;
        }
        observer.Progress(phase, n, moves.size());
        RunMove& move = moves[moves.size() - 1 - n];
        if (move.back) {
            ++n;
            continue;
        }
        const bool legacy = !move.legacyPath.empty();
        if (!trial && !legacy && pace.Slow()) {
            // Slow here: moves back whose names are all apart are made side
            // by side across folders, and reported newest first as ever.
            ahead.Stop();
            n = UndoSideBySide(run, n, batch, finish);
            continue;
        }
        ahead.Begin();
        oldName.assign(move.oldName);
        newName.assign(move.newName);
        const auto item = static_cast<std::uint32_t>(moves.size() - 1 - n);
        const int folder = step.Folder(run, move);
        int err = 0;
        const auto begun = std::chrono::steady_clock::now();
        const UndoVerdict verdict = folder < 0 ? (err = errno, UndoVerdict::MoveFailed)
                                               : UndoMoveAt(folder, oldName, newName, move.file, legacy, err,
                                                            trial ? &model : nullptr, item,
                                                            legacy ? 0 : run.Folders().Id(move.folder).device);
        if (!trial && !legacy && pace.Timing())
            pace.Took(std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count());
        ahead.At(n);
        finish(n, move, verdict, err);
        ++n;
    }
    observer.Progress(phase, moves.size(), moves.size());
    if (!trial && (!run.Flush() || !marked))
        return -1;
    return 1;
}
