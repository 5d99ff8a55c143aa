// The journal of the command-line renamer: one file per run, kept so that any
// past run can be undone. A move is written to the file (one write call)
// before the file is moved, and marked failed right after when it did not
// happen; so whenever the run stops, even killed, every file it moved is in
// the journal. The last record of a killed run may name a move that never
// happened: undoing it finds the file still under its old name and leaves it.
// Records hold raw path bytes and are framed by zero bytes, which no path holds.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// $XDG_STATE_HOME/mp3tavoly, else ~/.local/state/mp3tavoly; "" with no home.
std::string JournalFolder();

// The journal of the run being made. Its file appears with the first move.
class CRunJournal
{
public:
    explicit CRunJournal(std::string folder);
    ~CRunJournal();
    CRunJournal(const CRunJournal&) = delete;
    CRunJournal& operator=(const CRunJournal&) = delete;

    // Records that oldPath (absolute) is about to be renamed to newName in its
    // folder. 1 written; 0 not (errno set; the file is as before the call).
    int RecordMove(const std::string& oldPath, const std::string& newName);
    // The move recorded last did not happen. 1 written, 0 not.
    int RecordFailed();
    // Flushes to disk and closes; a journal that moved nothing is removed.
    // 1 when everything recorded is on disk.
    int Finish();
    // The run's id, "" until the first move was recorded.
    const std::string& Id() const { return m_id; }
    // Where the journal is (or would be) kept.
    const std::string& Folder() const { return m_folder; }

private:
    int Create();
    int Append(const std::string& record);

    std::string m_folder;
    std::string m_id;
    int m_fd = -1;
    long long m_size = 0;       // bytes written and kept
    std::size_t m_moved = 0;    // moves recorded and not marked failed
    std::timespec m_synced{};   // when the data last went to disk
};

// One move of a past run: the file's path before it, and the name it got.
struct RunMove
{
    std::string_view oldPath;
    std::string_view newName;
};

// A past run opened for undo. The file stays locked while the object lives,
// so that no other process undoes it at the same time.
class CRunFile
{
public:
    CRunFile() = default;
    ~CRunFile();
    CRunFile(const CRunFile&) = delete;
    CRunFile& operator=(const CRunFile&) = delete;

    // 1 opened; 0 no such run; -1 in use by another process; -2 unreadable
    // (errno set); -3 not a journal.
    int Open(const std::string& folder, const std::string& id);
    const std::string& Id() const { return m_id; }
    // The moves that happened (or may have, for the last one of a killed
    // run), oldest first.
    const std::vector<RunMove>& Moves() const { return m_moves; }
    bool Undone() const { return m_undone; }
    // Marks the run undone, on disk. 1 done.
    int MarkUndone();

private:
    std::string m_id;
    std::string m_bytes;
    std::vector<RunMove> m_moves;
    std::size_t m_end = 0;      // where the last whole record ends
    bool m_undone = false;
    int m_fd = -1;
};

// What --runs shows of a run.
struct RunSummary
{
    std::string id;
    std::time_t started = 0;
    std::size_t count = 0;      // files renamed
    std::string firstPath;      // the first file renamed, before its rename
    bool undone = false;
};

// The runs kept in folder, oldest first.
std::vector<RunSummary> ListRuns(const std::string& folder);
