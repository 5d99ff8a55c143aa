// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/WindowJournal.h"

#include "core/TagFile.h"
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
        Broken("cannot write the journal in " + m_run->Folder() + ": " + std::strerror(errno));
    m_run.reset();
    m_folders.reset();
    m_lastFolder.clear();
}

void CWindowJournal::Broken(const std::string& why)
{
    m_broken = true;
    if (m_problem.empty())
        m_problem = why;
}

int CWindowJournal::Rename(const std::string& path, const std::string& newName, std::string& newPath,
                           JournalRef& ref)
{
    ref = JournalRef();
    bool recorded = false;
    const std::size_t slash = path.rfind('/');
    const bool sameName = path.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, newName) == 0;
    // A file that has its name already is not moved: nothing to undo.
    if (m_folders && !m_broken && !sameName && IsPlainName(newName)) {
        const int moved = Record(path, newName, newPath, ref, recorded);
        if (recorded)
            return moved;
    }
    // Not journaled: the window renames all the same.
    return RenameInFolder(path, newName, newPath);
}

// Records the move, then makes it in the folder it recorded. recorded is false
// when it did neither (the caller then renames as without a journal).
int CWindowJournal::Record(const std::string& path, const std::string& newName, std::string& newPath,
                           JournalRef& ref, bool& recorded)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size())
        return 0;
    const std::size_t folderLength = slash == 0 ? 1 : slash;
    const std::string name = path.substr(slash + 1);
    if (!m_run) {
        std::string folderPath = m_folder.empty() ? JournalFolder() : m_folder;
        if (folderPath.empty()) {
            Broken("no home folder for the journal; set XDG_STATE_HOME");
            return 0;
        }
        m_run = std::make_unique<CRunJournal>(folderPath, true);
        std::string why;
        if (!m_run->Prepare(why)) {
            Broken(why);
            return 0;
        }
    }
    if (m_lastFolder.size() != folderLength || path.compare(0, folderLength, m_lastFolder) != 0) {
        // Links in the queued path are followed, as the move by path would.
        const std::string folder = path.substr(0, folderLength);
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        FileId id;
        if (fd < 0)
            return 0;
        const std::uint32_t index = FileIdAt(fd, "", AT_EMPTY_PATH, id) ? m_folders->AddOpened(fd, id, true)
                                                                       : CFolderTable::kNone;
        if (index == CFolderTable::kNone) {
            close(fd);
            return 0;
        }
        m_lastFolder = folder;
        m_lastIndex = index;
    }
    const int folderFd = m_folders->Open(m_lastIndex);
    FileId file;
    if (folderFd < 0 || !FileIdAt(folderFd, name.c_str(), AT_SYMLINK_NOFOLLOW, file)) {
        m_lastFolder.clear();
        return 0;
    }
    const std::uint64_t seq = m_run->QueueMove(*m_folders, m_lastIndex, name, newName, file);
    if (!m_run->WriteQueued()) {
        Broken("cannot write the journal in " + m_run->Folder() + ": " + std::strerror(errno));
        return 0;
    }
    recorded = true;
    if (!MoveNoReplaceAt(folderFd, name, newName)) {
        const int err = errno;
        m_run->QueueFailed(seq);   // written with the next record, or at the run's end
        errno = err;
        return 0;
    }
    newPath = PathInSameFolder(path, newName);
    ref.run = static_cast<std::uint32_t>(std::strtoul(m_run->Id().c_str(), nullptr, 10));
    ref.seq = static_cast<std::uint32_t>(seq);
    return 1;
}

int CWindowJournal::RenameAlone(const std::string& path, const std::string& newName, std::string& newPath)
{
    JournalRef ref;
    BeginRun();
    const int moved = Rename(path, newName, newPath, ref);
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
    return "Renames are not being journaled, so they cannot be undone from a shell later "
           "(mp3tavoly-rename --undo):\r\n"
           + m_problem;
}
