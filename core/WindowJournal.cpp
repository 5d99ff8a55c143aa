// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/WindowJournal.h"

#include "core/TagFile.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

CWindowJournal::CWindowJournal(std::string folder) : m_folder(std::move(folder)) {}

CWindowJournal::~CWindowJournal()
{
    EndRun();
    EndUndo();
}

void CWindowJournal::BeginRun()
{
    EndRun();
    // The run is made with its first rename: a batch that renames nothing
    // leaves no trace, not even the folder.
    m_broken = false;
    m_folders = std::make_unique<CFolderTable>();
}

void CWindowJournal::EndRun()
{
    if (m_run && !m_run->Finish() && !m_broken)
        Broken(CannotWriteJournal(m_run->Folder(), errno));
    m_run.reset();
    m_folders.reset();
    m_lastFolder.clear();
    BeginGroup();
}

void CWindowJournal::Broken(const std::string& why)
{
    m_broken = true;
    if (m_problem.empty())
        m_problem = why;
}

void CWindowJournal::BeginGroup()
{
    m_plan.clear();
    m_planWritten = false;
}

std::uint32_t CWindowJournal::Plan(const std::string& path, const std::string& newName, const FileId* known)
{
    const std::size_t slash = path.rfind('/');
    if (!m_folders || m_broken || slash == std::string::npos || slash + 1 == path.size() || !IsPlainName(newName))
        return kNotPlanned;
    // A file that has its name already is not moved: nothing to undo.
    if (path.compare(slash + 1, std::string::npos, newName) == 0)
        return kNotPlanned;
    const std::size_t folderLength = slash == 0 ? 1 : slash;
    if (!m_run) {
        std::string folderPath = m_folder.empty() ? JournalFolder() : m_folder;
        if (folderPath.empty()) {
            Broken(Tr("no home folder for the journal; set XDG_STATE_HOME"));
            return kNotPlanned;
        }
        m_run = std::make_unique<CRunJournal>(folderPath, true);
        std::string why;
        if (!m_run->Prepare(why)) {
            Broken(why);
            return kNotPlanned;
        }
    }
    if (m_lastFolder.size() != folderLength || path.compare(0, folderLength, m_lastFolder) != 0) {
        // Links in the queued path are followed, as the move by path would.
        const std::string folder = path.substr(0, folderLength);
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        FileId id;
        if (fd < 0)
            return kNotPlanned;
        const std::uint32_t index = FileIdAt(fd, "", AT_EMPTY_PATH, id) ? m_folders->AddOpened(fd, id, true)
                                                                       : CFolderTable::kNone;
        if (index == CFolderTable::kNone) {
            close(fd);
            return kNotPlanned;
        }
        m_lastFolder = folder;
        m_lastIndex = index;
    }
    FileId file;
    const char* name = path.c_str() + slash + 1;
    if (known != nullptr) {
        file = *known;
    } else {
        const int folderFd = m_folders->Open(m_lastIndex);
        if (folderFd < 0 || !FileIdAt(folderFd, name, AT_SYMLINK_NOFOLLOW, file)) {
            m_lastFolder.clear();
            return kNotPlanned;
        }
    }
    m_plan.push_back(Planned{m_run->QueueMove(*m_folders, m_lastIndex, name, newName, file), m_lastIndex});
    return static_cast<std::uint32_t>(m_plan.size() - 1);
}

void CWindowJournal::WritePlan()
{
    if (m_plan.empty())
        return;
    if (!m_run->WriteQueued()) {
        Broken(CannotWriteJournal(m_run->Folder(), errno));
        m_plan.clear();   // renamed without records
        return;
    }
    m_planWritten = true;
    m_runNumber = static_cast<std::uint32_t>(std::strtoul(m_run->Id().c_str(), nullptr, 10));
}

int CWindowJournal::Move(std::uint32_t slot, const std::string& path, const std::string& newName,
                         std::string& newPath, JournalRef& ref)
{
    ref = JournalRef();
    if (slot >= m_plan.size() || !m_planWritten)
        return RenameInFolder(path, newName, newPath);
    const Planned& planned = m_plan[slot];
    const int folderFd = m_folders->Open(planned.folder);
    if (folderFd < 0 || !MoveNoReplaceAt(folderFd, path.substr(path.rfind('/') + 1), newName)) {
        const int err = errno;
        m_run->QueueFailed(planned.seq);   // written with the next records, or at the run's end
        errno = err;
        return 0;
    }
    newPath = PathInSameFolder(path, newName);
    ref.run = m_runNumber;
    ref.seq = static_cast<std::uint32_t>(planned.seq);
    return 1;
}

int CWindowJournal::RenameAlone(const std::string& path, const std::string& newName, std::string& newPath)
{
    JournalRef ref;
    BeginRun();   // a new group too
    const std::uint32_t slot = Plan(path, newName);
    WritePlan();
    const int moved = Move(slot, path, newName, newPath, ref);
    EndRun();
    return moved;
}

void CWindowJournal::BeginUndo()
{
    EndUndo();
}

void CWindowJournal::EndUndo()
{
    m_undoing.clear();   // each run writes its marks as it closes
}

RunMove* CWindowJournal::MoveOf(const JournalRef& ref, CRunFile*& run)
{
    if (ref.run == 0)
        return nullptr;
    auto it = m_undoing.find(ref.run);
    if (it == m_undoing.end()) {
        auto file = std::make_unique<CRunFile>();
        std::string why;
        const std::string folder = m_folder.empty() ? JournalFolder() : m_folder;
        // Held by an undo from a shell, or gone: the marks are left to it.
        if (file->Open(folder, std::to_string(ref.run), why) != 1 || file->Version() != 2)
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

void CWindowJournal::MovedBack(const JournalRef& ref, const std::string& oldPath)
{
    CRunFile* run = nullptr;
    RunMove* move = MoveOf(ref, run);
    FileId id;
    if (move != nullptr && !move->back && FileIdAt(AT_FDCWD, oldPath.c_str(), AT_SYMLINK_NOFOLLOW, id)
        && SameFile(id, move->file))
        run->MarkBack(*move);
}

bool CWindowJournal::FoundBack(const JournalRef& ref, const std::string& oldPath)
{
    CRunFile* run = nullptr;
    RunMove* move = MoveOf(ref, run);
    FileId id;
    // The very file the run moved, whoever put it back (an undo killed
    // before its mark was written, too).
    if (move == nullptr || !FileIdAt(AT_FDCWD, oldPath.c_str(), AT_SYMLINK_NOFOLLOW, id) || !SameFile(id, move->file))
        return false;
    if (!move->back)
        run->MarkBack(*move);
    return true;
}

std::string CWindowJournal::TakeWarning()
{
    if (m_warned || m_problem.empty())
        return {};
    m_warned = true;
    // TRANSLATORS: a warning box; the reason follows on the next line (\r\n).
    return Tr("Renames are not being journaled, so they cannot be undone from a shell later "
              "(mp3tavoly-rename --undo):\r\n")
           + m_problem;
}
