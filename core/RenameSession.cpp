// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/RenameSession.h"

#include "core/RenameBatch.h"
#include "core/TagFile.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"
#include "platform/FolderCrew.h"
#include "platform/ReadAhead.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace {

std::string_view NameOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::uint32_t RunNumber(const CRunRecorder& journal)
{
    return static_cast<std::uint32_t>(std::strtoul(journal.Id().c_str(), nullptr, 10));
}

} // namespace

// Turns the engine's reports into outcomes for the rows.
class CRenameSession::Observer : public BatchObserver
{
public:
    Observer(CRenameSession& session, CRunRecorder* journal, const std::vector<std::uint32_t>& folders,
             const std::function<void(std::size_t, const RenameOutcome&)>& done)
        : m_session(session), m_journal(journal), m_folders(folders), m_done(done)
    {
    }

    void FileDone(const FileResult& result) override
    {
        RenameOutcome outcome{result.state, result.newName, m_folders[result.item], result.file, JournalRef(),
                              result.onlyId3v2};
        if (result.seq != 0 && m_journal != nullptr) {
            outcome.ref.run = RunNumber(*m_journal);
            outcome.ref.seq = static_cast<std::uint32_t>(result.seq);
        }
        m_done(result.item, outcome);
    }

    void JournalLost(int err) override
    {
        std::string why;
        // The folder's own check says best what is wrong with it.
        if (m_journal->Prepare(why))
            why = CannotWriteJournal(m_journal->Folder(), err);
        m_session.Broken(why);
        m_journal = nullptr;
    }

private:
    CRenameSession& m_session;
    CRunRecorder* m_journal;
    const std::vector<std::uint32_t>& m_folders;
    const std::function<void(std::size_t, const RenameOutcome&)>& m_done;
};

CRenameSession::CRenameSession(std::string journalFolder) : m_journalFolder(std::move(journalFolder)) {}

CRenameSession::~CRenameSession()
{
    EndUndo();
}

std::string CRenameSession::Folder() const
{
    return m_journalFolder.empty() ? JournalFolder() : m_journalFolder;
}

void CRenameSession::Broken(const std::string& why)
{
    if (m_problem.empty())
        m_problem = why;
}

std::uint32_t CRenameSession::FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (!m_lastFolder.empty() && folder == m_lastFolder)
        return m_lastIndex;
    if (!IsUsablePath(folder)) {
        errno = ENOENT;
        return CFolderTable::kNone;
    }
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return CFolderTable::kNone;
    FileId id;
    const std::uint32_t index = FileIdAt(fd, "", AT_EMPTY_PATH, id) ? m_folders.AddOpened(fd, id, true)
                                                                   : CFolderTable::kNone;
    if (index == CFolderTable::kNone) {
        const int err = errno;
        close(fd);
        errno = err;
        return index;
    }
    m_lastFolder = folder;
    m_lastIndex = index;
    return index;
}

bool CRenameSession::SearchFolder(
    const std::string& path,
    const std::function<void(std::uint32_t folder, const std::string& name, const std::string& path)>& found)
{
    std::set<FileId> entered;
    return WalkMp3Files(path, m_folders, entered, [&found](const WalkedFile& file) {
        found(file.folder, file.name, file.path);
        return true;
    }, {}) == 1;
}

int CRenameSession::OpenFolder(std::uint32_t& folder, const std::string& path)
{
    if (folder == CFolderTable::kNone)
        folder = FolderOf(path);
    return folder == CFolderTable::kNone ? -1 : m_folders.Open(folder);
}

void CRenameSession::EndRun(CRunRecorder& run)
{
    if (!run.Finish())
        Broken(CannotWriteJournal(run.Folder(), errno));
}

void CRenameSession::AutoRename(const std::vector<QueuedFile>& files, bool artistFirst,
                                const std::function<void(std::size_t, const RenameOutcome&)>& done)
{
    CRenameBatch batch(&m_folders);
    batch.SetNameRule(m_rule);
    std::vector<std::uint32_t> folders;
    folders.reserve(files.size());
    for (const QueuedFile& file : files) {
        folders.push_back(file.folder == CFolderTable::kNone ? FolderOf(std::string(file.path)) : file.folder);
        batch.AddQueued(file.path, folders.back());
    }
    const std::string folder = Folder();
    if (folder.empty())
        Broken(Tr("no home folder for the journal; set XDG_STATE_HOME"));
    // The run's file is made with its first record: a batch that renames
    // nothing leaves no trace, not even the folder.
    CRunRecorder journal(folder, true);
    CRunRecorder* recorded = folder.empty() ? nullptr : &journal;
    Observer observer(*this, recorded, folders, done);
    // Never stopped nor refused: a journal that cannot be written is given up.
    (void)batch.Run(artistFirst, recorded, observer, true);
    // Given up or not, what was written goes to disk, with the failure marks
    // of the batches before (a failure is told once: the first kept).
    if (recorded != nullptr)
        EndRun(journal);
}

int CRenameSession::RenameByHand(std::uint32_t& folder, const std::string& path, const std::string& newName,
                                 std::string& newPath)
{
    if (!IsPlainName(newName)) {
        errno = EINVAL;
        return 0;
    }
    const int fd = OpenFolder(folder, path);
    if (fd < 0)
        return 0;
    const std::string name(NameOf(path));
    FileId file;
    if (!IsPlainName(name) || !FileIdAt(fd, name.c_str(), 0, file))
        return 0;
    // Where inode numbers do not last, its undo knows it by content; one
    // that cannot be read keeps its inode, and its undo refuses it.
    if (!InodesLast(fd))
        (void)ContentIdAt(fd, name.c_str(), file);
    std::unique_ptr<CRunRecorder> run;
    std::uint64_t seq = 0;
    // A file that has its name already is not moved: nothing to undo.
    if (name != newName) {
        const std::string journalFolder = Folder();
        if (journalFolder.empty()) {
            Broken(Tr("no home folder for the journal; set XDG_STATE_HOME"));
        } else {
            run = std::make_unique<CRunRecorder>(journalFolder, true);
            seq = run->QueueMove(m_folders, folder, name, newName, file);
            if (!run->WriteQueued()) {
                const int err = errno;
                std::string why;
                Broken(run->Prepare(why) ? CannotWriteJournal(journalFolder, err) : why);
                run.reset();   // renamed all the same, without a record
            }
        }
    }
    const int moved = MoveNoReplaceAt(fd, m_folders.Id(folder).device, name, newName);
    const int err = errno;
    if (run) {
        if (moved == 0)   // not when it may have left a name behind: the undo mends that
            run->QueueFailed(seq);
        EndRun(*run);
    }
    if (moved != 1) {
        errno = err;
        return 0;
    }
    newPath = PathInSameFolder(path, newName);
    return 1;
}

void CRenameSession::EndUndo()
{
    for (auto& [number, run] : m_undoing) {
        if (run && !run->Flush())
            Broken(CannotWriteJournal(Folder(), errno));
    }
    m_undoing.clear();
}

RunMove* CRenameSession::MoveOf(const JournalRef& ref, CPastRun*& run)
{
    if (ref.run == 0)
        return nullptr;
    auto it = m_undoing.find(ref.run);
    if (it == m_undoing.end()) {
        auto file = std::make_unique<CPastRun>();
        std::string why;
        // Held by an undo from a shell, or gone: the marks are left to it.
        if (file->Open(Folder(), std::to_string(ref.run), why) != 1 || file->Version() != 2)
            file.reset();
        it = m_undoing.emplace(ref.run, std::move(file)).first;
    }
    run = it->second.get();
    if (run == nullptr)
        return nullptr;
    std::deque<RunMove>& moves = run->Moves();
    const auto move = std::lower_bound(moves.begin(), moves.end(), std::uint64_t{ref.seq},
                                       [](const RunMove& m, std::uint64_t seq) { return m.seq < seq; });
    return move != moves.end() && move->seq == ref.seq ? &*move : nullptr;
}

namespace {

// Whether an undo of item may be tried at all: without the file's identity
// nothing tells it from another file.
bool Undoable(const CRenameSession::UndoItem& item)
{
    return IsPlainName(item.oldName) && IsPlainName(NameOf(item.path)) && !(item.file == FileId())
           && item.folder != CFolderTable::kNone;
}

} // namespace

bool CRenameSession::UndoOne(const UndoItem& item, std::string& oldPath)
{
    if (!Undoable(item))
        return false;
    const int fd = m_folders.Open(item.folder);
    if (fd < 0)
        return false;
    int err = 0;
    const UndoVerdict verdict = UndoMoveAt(fd, item.oldName, std::string(NameOf(item.path)), item.file, false, err,
                                           nullptr, 0, m_folders.Id(item.folder).device);
    return FinishUndo(item, verdict, oldPath);
}

bool CRenameSession::FinishUndo(const UndoItem& item, UndoVerdict verdict, std::string& oldPath)
{
    if (verdict != UndoVerdict::MovedBack && verdict != UndoVerdict::DropExtraName
        && verdict != UndoVerdict::AlreadyBack)
        return false;
    // The run learns that its file is back, whoever put it there.
    CPastRun* run = nullptr;
    RunMove* move = MoveOf(item.ref, run);
    if (move != nullptr && !move->back && SameFile(move->file, item.file) && !run->MarkBack(*move))
        Broken(CannotWriteJournal(Folder(), errno));
    oldPath = PathInSameFolder(item.path, item.oldName);
    return true;
}

std::size_t CRenameSession::UndoSideBySide(const std::vector<UndoItem>& items, std::size_t from,
                                           const std::function<void(std::size_t, bool, const std::string&)>& done)
{
    // Up to an item whose names an earlier one of them takes or leaves.
    std::set<std::pair<std::uint32_t, std::string_view>> touched;
    std::vector<std::size_t> batch;
    std::size_t at = from;
    for (; at < items.size() && batch.size() < 256; ++at) {
        const UndoItem& item = items[at];
        if (!Undoable(item))
            continue;
        const std::string_view newName = NameOf(item.path);
        if (touched.count({item.folder, item.oldName}) != 0 || touched.count({item.folder, newName}) != 0)
            break;
        touched.emplace(item.folder, item.oldName);
        touched.emplace(item.folder, newName);
        batch.push_back(at);
    }
    std::vector<UndoVerdict> verdicts(batch.size(), UndoVerdict::MoveFailed);
    std::vector<std::uint32_t> folderOf;
    for (const std::size_t i : batch)
        folderOf.push_back(items[i].folder);
    CCrewFolders folders(m_folders);
    RunByFolder(folderOf, CrewThreadsNow(), [&](std::size_t j) {
        const UndoItem& item = items[batch[j]];
        std::uint64_t device = 0;
        const int fd = folders.Open(item.folder, &device);
        if (fd < 0)
            return;
        int err = 0;
        verdicts[j] = UndoMoveAt(fd, item.oldName, std::string(NameOf(item.path)), item.file, false, err, nullptr, 0,
                                 device);
        close(fd);
    });
    std::string oldPath;
    for (std::size_t i = from, j = 0; i < at; ++i) {
        oldPath.clear();
        const bool back = j < batch.size() && batch[j] == i && FinishUndo(items[i], verdicts[j++], oldPath);
        done(i, back, oldPath);
    }
    return at;
}

void CRenameSession::Undo(const std::vector<UndoItem>& items,
                          const std::function<void(std::size_t, bool back, const std::string& oldPath)>& done)
{
    EndUndo();
    {
        // On a cold disk the names to look at are looked at ahead.
        CReadAhead ahead(m_folders, items.size(), false,
                         [&items](std::size_t i, std::uint32_t& folder, std::string_view& name) {
                             folder = items[i].folder;
                             name = NameOf(items[i].path);
                         },
                         CReadAhead::kSlowMove);
        CMovePace pace;
        std::string oldPath;
        for (std::size_t i = 0; i < items.size();) {
            if (pace.Slow()) {
                // Slow here (a share): moves back whose names are all apart
                // are made side by side across folders, reported in order.
                ahead.Stop();
                i = UndoSideBySide(items, i, done);
                continue;
            }
            ahead.Begin();
            oldPath.clear();
            const auto begun = std::chrono::steady_clock::now();
            const bool back = UndoOne(items[i], oldPath);
            if (pace.Timing() && Undoable(items[i]))
                pace.Took(std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count());
            ahead.At(i);
            done(i, back, oldPath);
            ++i;
        }
    }
    EndUndo();   // each run writes its marks as it closes
}

void CRenameSession::Release()
{
    m_folders.CloseAll();
    ForgetMoveWays();   // a drive may be another one by the next command
    m_lastFolder.clear();
}

std::string CRenameSession::TakeWarning()
{
    if (m_warned || m_problem.empty())
        return {};
    m_warned = true;
    // TRANSLATORS: a warning box; the reason follows on the next line (\r\n).
    return Tr("Renames are not being journaled, so they cannot be undone from a shell later "
              "(mp3tavoly-rename --undo):\r\n")
           + m_problem;
}
