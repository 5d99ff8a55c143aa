// SPDX-License-Identifier: GPL-3.0-or-later
// The journal of the command-line renamer: one file per run, kept so that any
// past run can be undone. Moves are written to the file in batches, each batch
// before any of its files is moved, and those that did not happen are marked
// failed with the next batch or at the end; so whenever the run stops, even
// killed, every file it moved is in the journal, and a move recorded but not
// made is found by its undo under its old name.
//
// Each record is framed and self-checking (a length and a CRC-32C), so a
// damaged record is found, named by its offset and skipped, and every record
// after it is still read. Records name each file by its folder (kept by
// identity, reached again from "/" without following links) and by its own
// identity, so an undo moves back only the very file the run moved. An undo
// appends marks and never shortens or rewrites a journal: a run is closed when
// every move is back, or when the user gives it up. The byte layout and the
// rules a reader keeps are at the top of Journal.cpp.
#pragma once

#include "platform/FolderTable.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// $XDG_STATE_HOME/mp3tavoly, else ~/.local/state/mp3tavoly; "" with no home.
[[nodiscard]] std::string JournalFolder();

// Opens the journal folder for use: a real folder (not a link), owned by the
// user running the program and writable by nobody else. With create, missing
// folders are made first. The descriptor, or -1 with why set (for people).
[[nodiscard]] int OpenJournalFolder(const std::string& folder, bool create, std::string& why);

// For a dry run: whether a real run could keep its journal there, changing
// nothing. 1 yes; 0 no, with why.
[[nodiscard]] int CheckJournalFolder(const std::string& folder, std::string& why);

// "cannot write the journal in FOLDER: " and errno err's text, in the user's
// language; errno stays as it was.
[[nodiscard]] std::string CannotWriteJournal(const std::string& folder, int err);

// The journal of the run being made. Its file appears with the first move.
class CRunRecorder
{
public:
    // window: the run is the window program's (--runs says so).
    explicit CRunRecorder(std::string folder, bool window = false);
    ~CRunRecorder();
    CRunRecorder(const CRunRecorder&) = delete;
    CRunRecorder& operator=(const CRunRecorder&) = delete;

    // Opens and checks the folder (making it when missing). 1 ready; 0 not,
    // with why.
    [[nodiscard]] int Prepare(std::string& why);
    // Queues the record that oldName in folder (of table), the file file, is
    // about to be renamed to newName. Returns the move's number.
    [[nodiscard]] std::uint64_t QueueMove(const CFolderTable& table, std::uint32_t folder,
                                          const std::string& oldName, const std::string& newName,
                                          const FileId& file);
    // Queues the mark that move seq (written already) did not happen.
    void QueueFailed(std::uint64_t seq);
    // Writes what is queued with one write call: done before any of the
    // queued moves is made. 1 written; 0 not (errno set; the queued moves
    // are dropped, and the journal holds none of them). A batch is refused
    // unless the file has room for it and for a failure mark of each of its
    // moves, so that a move that then fails can always be marked so.
    [[nodiscard]] int WriteQueued();
    // Writes the failure marks queued (moves queued and not written were
    // never made, and are dropped), flushes to disk and closes; a journal
    // that moved nothing is removed. 1 when everything recorded is on disk;
    // 0 when not, or when any write, flush or lock failed before (errno: the
    // first such failure, as the system may report a lost write back only
    // once).
    [[nodiscard]] int Finish();
    // The run's id, "" until the first move was recorded.
    const std::string& Id() const { return m_id; }
    // Where the journal is (or would be) kept.
    const std::string& Folder() const { return m_folder; }

private:
    int Create();
    int Append(const std::string& records);
    bool Room(std::size_t bytes);
    void Keep(int err);

    std::string m_folder;
    bool m_window = false;
    std::string m_id;
    int m_folderFd = -1;
    int m_fd = -1;
    long long m_size = 0;       // bytes written and kept
    std::size_t m_moved = 0;    // moves recorded and not marked failed
    std::uint64_t m_seq = 0;    // the number of the last move recorded
    std::vector<bool> m_folderWritten;
    std::string m_queued;       // folder and move records not written yet
    std::string m_payload;      // QueueMove's, kept for its room
    std::string m_marks;        // failure marks not written yet
    std::size_t m_queuedMoves = 0;
    std::size_t m_queuedReserve = 0;   // bytes the queued moves' failure marks would take
    std::timespec m_synced{};   // when the data last went to disk
    long long m_torn = -1;      // where a record cut short and not taken back begins
    int m_error = 0;            // the first failed write, flush or lock (errno)
};

// One move of a past run, as the journal tells it.
struct RunMove
{
    std::uint64_t seq = 0;
    std::uint32_t folder = CFolderTable::kNone;   // in the run's folder table
    std::string_view oldName;
    std::string_view newName;
    FileId file;
    bool back = false;          // known to be under its old name again
    bool failed = false;        // marked as never made
    std::string_view legacyPath;   // a version 1 journal: the old full path
};

// A past run opened for undo. The file stays locked while the object lives,
// so that no other process undoes it (or writes it) at the same time.
class CPastRun
{
public:
    CPastRun() = default;
    ~CPastRun();
    CPastRun(const CPastRun&) = delete;
    CPastRun& operator=(const CPastRun&) = delete;

    // 1 opened; 0 no such run; -1 in use by another process; -2 unreadable
    // (errno set); -3 not a journal; -4 refused (why says: not the user's,
    // or writable by others); -5 empty or cut short in its header (a run
    // killed at its first write, which moved nothing): it stays open and
    // locked, and Forget removes it; -6 made by a newer version: left alone.
    [[nodiscard]] int Open(const std::string& folder, const std::string& id, std::string& why);
    const std::string& Id() const { return m_id; }
    const std::string& Path() const { return m_path; }
    int Version() const { return m_version; }
    // The moves that happened (or may have, for the last one of a killed
    // run), oldest first; failed moves are left out.
    std::deque<RunMove>& Moves() { return m_moves; }
    // The folders the moves name, with their identities.
    CFolderTable& Folders() { return m_folders; }
    // Offsets of damaged records, skipped.
    const std::vector<std::size_t>& Damaged() const { return m_damaged; }
    bool Forgotten() const { return m_forgotten; }
    // Moves not yet back.
    [[nodiscard]] std::size_t Left() const;
    // Every move is back, nothing is damaged, or the run was given up.
    [[nodiscard]] bool Closed() const;

    // Marks a move as back under its old name; written in batches (and by
    // Flush). 1 done.
    [[nodiscard]] int MarkBack(RunMove& move);
    // Gives the run up: it is closed without its files being moved. An empty
    // run (Open gave -5) is removed. 1 done.
    [[nodiscard]] int Forget();
    // Writes the marks not yet written, to disk. 1 done; 0 when not, or when
    // any mark's write or flush failed before (errno: the first failure).
    [[nodiscard]] int Flush();

private:
    int Append(const std::string& records);
    int WriteMarks(bool sync);
    int WriteLegacyUndone();
    void Keep(int err);

    std::string m_id;
    std::string m_path;
    std::string m_bytes;
    std::deque<RunMove> m_moves;
    CFolderTable m_folders;
    std::vector<std::size_t> m_damaged;
    std::size_t m_torn = std::string::npos;   // where a torn tail begins
    std::string m_pending;                     // marks not written yet
    std::timespec m_synced{};                  // when marks last went to disk
    bool m_unsynced = false;                   // marks written since
    std::size_t m_size = 0;                    // the file's length
    int m_version = 0;
    bool m_forgotten = false;
    bool m_legacyUndone = false;
    int m_error = 0;                           // the first failed write or flush (errno)
    int m_fd = -1;
    int m_folderFd = -1;                       // kept for an empty run, which Forget removes
};

// What --runs shows of a run.
struct RunSummary
{
    std::string id;
    std::time_t started = 0;
    std::size_t count = 0;      // files renamed
    std::size_t left = 0;       // of those, not back yet
    std::size_t damaged = 0;    // damaged records
    std::string firstPath;      // the first file renamed, before its rename
    bool closed = false;        // undone in full, or given up
    bool forgotten = false;
    bool window = false;        // made by the window program
    bool headerless = false;    // empty or cut short in its header: moved nothing
    bool empty = false;         // headerless, with no byte at all
    bool newer = false;         // made by a newer version: not read, left alone
    std::string problem;        // why the run could not be read (English), if so
};

// The runs kept in folder, oldest first.
[[nodiscard]] std::vector<RunSummary> ListRuns(const std::string& folder);

// The runs' ids in folder, newest first, without reading any run.
[[nodiscard]] std::vector<std::string> RunIdsNewestFirst(const std::string& folder);

