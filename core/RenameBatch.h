// SPDX-License-Identifier: GPL-3.0-or-later
// Auto-Rename of many files without a window, and its undo. The files are
// gathered and their new names worked out first (the plan); then they are
// renamed one by one in plan order, each move written to the run's journal
// before it is made. Every folder is held by identity and every call is made
// relative to its descriptor, never through a path string, so a folder swapped
// for a link after the search leads nowhere. A trial run goes through the same
// plan against a model of the folders: it reports exactly what the real run
// would do, clashes inside the run included, and touches nothing.
#pragma once

#include "core/Journal.h"
#include "platform/FolderCrew.h"
#include "platform/FolderTable.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Texts of an undo, beside the state texts of a rename.
extern const char* const kUndoMovedBack;     // "Moved back"
extern const char* const kUndoNotMoved;      // "Under its old name already"
extern const char* const kUndoGone;          // "Failed, File is gone! "
extern const char* const kUndoNameTaken;     // "Failed, Old name is taken! "
extern const char* const kUndoFailed;        // "Failed, Unable to move the file back! "
extern const char* const kUndoReplaced;      // "Failed, Another file has the new name! "
extern const char* const kUndoDamaged;       // "Failed, Damaged journal record! "

enum class Outcome
{
    Renamed,
    Unchanged,   // already named right, or (undo) already back
    Failed,
};

// What became of one file. For an undo, path is the renamed path and newName
// the name given back.
struct FileResult
{
    FileResult(const char* state_, std::string_view path_, std::string_view newName_, Outcome outcome_,
               std::string reason_)
        : state(state_), path(path_), newName(newName_), outcome(outcome_), reason(std::move(reason_))
    {
    }
    const char* state;
    std::string_view path;
    std::string_view newName;   // empty when no name was found
    Outcome outcome;
    std::string reason;         // why it failed, in English (TrReason shows it); or ""
    std::size_t item = 0;       // the file's place in the plan, from 0
    FileId file;                // the file's identity when it was read
    std::uint64_t seq = 0;      // its move's number in the journal, 0 when none
    // No song name by the window's rule, because the file has no ID3v1 tag;
    // it has an ID3v2 tag, which a NameRule could read.
    bool onlyId3v2 = false;
};

// The reason for errno err, in English whatever the language.
std::string ReasonOf(int err);

// How a batch reports to its front end, and learns that it should stop.
class BatchObserver
{
public:
    virtual ~BatchObserver() = default;
    // Asked before each file; true stops the batch before it.
    virtual bool StopRequested() { return false; }
    // Called for each file; total is 0 while it is not known yet.
    virtual void Progress(const char* phase, std::size_t done, std::size_t total)
    {
        (void)phase, (void)done, (void)total;
    }
    virtual void FileDone(const FileResult& result) { (void)result; }
    // A sub-folder the search could not open, with errno (ELOOP: a link in a
    // folder that others can write to, not followed); its files are left out.
    virtual void FolderUnopened(const std::string& path, int error) { (void)path, (void)error; }
    // Run's journal could not be written (errno err) and was given up.
    virtual void JournalLost(int err) { (void)err; }
};

// A way to name a file after its tags other than the window's (title, or
// artist and title, from ID3v1).
class NameRule
{
public:
    virtual ~NameRule() = default;
    // The new name (ending in ".mp3") of the regular file open on fd, size
    // bytes long: kStateSuccessful with newName set, kStateSongNotFound, or
    // kStateUnreadable with errno set. Reads the file only.
    virtual std::string NewName(int fd, long long size, bool artistFirst, std::string& newName) = 0;
    // How many bytes from its start NewName reads first (besides the last
    // 128): where reads are slow, they are read ahead for it.
    virtual std::size_t HeadBytes() const { return 0; }
};

class CRenameBatch
{
public:
    // folders: a table kept by the caller across batches (the window's), or
    // null for one of the batch's own.
    explicit CRenameBatch(CFolderTable* folders = nullptr);
    ~CRenameBatch();
    CRenameBatch(const CRenameBatch&) = delete;
    CRenameBatch& operator=(const CRenameBatch&) = delete;

    // Adds an MP3 file (by its name, ".mp3" in any case), or every MP3 file of
    // a folder and its sub-folders in the queue's order. A file met twice, by
    // any path, is planned once. Links in path itself are followed (the user
    // named it); links below it only where FolderTrustsLinks says. 1 added; 0
    // the path does not exist or the folder cannot be opened (errno set); -1
    // neither a folder nor an MP3 file; -2 stopped on request.
    [[nodiscard]] int AddPath(const std::string& path, BatchObserver& observer);
    // Adds a file queued earlier in folder (of the table given to the
    // constructor), as its path was then: the folder is reached again by its
    // identity, so a folder swapped since leads nowhere. Every file added this
    // way is planned, twice if given twice.
    void AddQueued(std::string_view path, std::uint32_t folder);
    // How many levels of sub-folders AddPath enters below a folder it is
    // given; negative (the default) for all.
    void SetMaxDepth(int depth) { m_maxDepth = depth; }
    // Names files by rule instead of the window's rule; null (the default)
    // for the window's. The rule must outlive the batch's Run.
    void SetNameRule(NameRule* rule) { m_rule = rule; }
    std::size_t Size() const { return m_files.size(); }

    // Reads each file's song name, works out its new name and renames it, in
    // plan order and in batches: a batch's tags are read, its moves recorded
    // in journal with one write, and then made. With no journal, a trial that
    // predicts the same and changes nothing. 1 done; 0 stopped on request; -1
    // the journal could not be written (errno set; no file of that batch, nor
    // after it, was moved). With journalOptional, a journal that cannot be
    // written is given up instead (JournalLost) and the files are renamed
    // all the same. A batch ends early before a file whose name an earlier
    // file of it takes or leaves, or that is read through a link: read ahead
    // of those moves, it would see what, read just before its own move, it
    // would not.
    [[nodiscard]] int Run(bool artistFirst, CRunRecorder* journal, BatchObserver& observer, bool journalOptional = false);

private:
    // A file of the plan, kept small: a run may plan a million. Its path as
    // found is a prefix shared by its folder's files, then its name.
    struct File
    {
        const char* name;
        const char* newName;        // once a name was found
        std::uint64_t inode;        // the entry's identity when read (the
        std::uint64_t birth;        // device is its folder's)
        std::uint32_t prefix;       // in m_prefixes
        std::uint32_t folder;       // in m_folders
        std::uint16_t nameLength;
        std::uint16_t newNameLength;
        std::uint8_t read;          // what ReadName found
        std::uint8_t error;         // errno of a failed read
        bool viaLink;               // read through a link

        std::string_view Name() const { return {name, nameLength}; }
        std::string_view NewName() const { return {newName, newNameLength}; }
    };
    class TextStore;
    // A file opened and looked at side by side, for ReadName.
    struct Opened
    {
        int fd = -1;
        int err = 0;         // of its open
        int folderErr = 0;   // of its folder's open
        int lookErr = 0;     // of the look at it
        FileId id;
        std::uint64_t size = 0;
        std::uint32_t mode = 0;
        bool tailRead = false;                  // its last bytes, when as long
        unsigned char tail[kContentBytes];
        std::size_t headLength = 0;             // its first bytes, in m_heads
    };
    void ReadName(std::size_t i, bool artistFirst, const Opened* opened = nullptr);
    // The rule's name for file i open on fd, from the bytes read side by side
    // where there are any.
    std::string RuleName(std::size_t i, int fd, std::uint64_t size, bool artistFirst, const Opened* opened);
    // Opens files [begin, end) side by side, into m_opened, and closes them.
    void OpenSideBySide(std::size_t begin, std::size_t end);
    void CloseOpened();
    // Makes the moves of files [begin, end) of a batch side by side, into
    // m_moves.
    void MoveSideBySide(std::size_t begin, std::size_t end);
    struct MoveDone
    {
        bool moved = false;
        bool unsettled = false;   // failed, and may have left a name behind
        int err = 0;
    };
    void ReportUnread(std::size_t i, BatchObserver& observer);
    void Add(std::string_view path, std::string_view name, std::uint32_t folder);
    // The path of a file as it was found, valid until the next call.
    std::string_view PathOf(const File& file);
    FileId FileIdOf(std::size_t i) const;
    bool TrustsLinks(std::uint32_t folder, int fd);
    // InodesLast for the file open on fd, on device: asked once a device.
    bool InodesLastOn(std::uint64_t device, int fd);

    std::unique_ptr<TextStore> m_text;   // the bytes of every path and name
    std::deque<File> m_files;           // no copy of it all as it grows
    std::vector<std::string_view> m_prefixes;
    std::string m_path;                 // PathOf's
    std::string m_name, m_title, m_artist, m_newName;   // ReadName's
    std::unique_ptr<CFolderTable> m_ownFolders;
    CFolderTable& m_folders;
    std::set<FileId> m_entered;
    int m_maxDepth = -1;
    NameRule* m_rule = nullptr;
    std::vector<std::int8_t> m_trust;    // by folder: -1 not known yet
    std::unordered_map<std::uint64_t, bool> m_inodesLast;   // by device
    // The identities of files known by content (InodesLast), by plan place:
    // only where inode numbers do not last, so the plan stays small.
    std::unordered_map<std::size_t, FileId> m_content;
    std::set<std::pair<std::uint32_t, std::string>> m_named;   // files given by name
    CMovePace m_pace, m_readPace;
    std::vector<Opened> m_opened;       // OpenSideBySide's, from file m_openedFrom
    std::vector<char> m_heads;          // their first bytes, HeadBytes() each
    std::size_t m_openedFrom = 0;
    std::vector<MoveDone> m_moves;      // MoveSideBySide's, from file m_movesFrom
    std::size_t m_movesFrom = 0;
};

// What an undo finds under a name of a move: nothing, the very file the run
// moved, or another file.
enum class UndoHolds : std::uint8_t { Nothing, TheFile, Another };

enum class UndoVerdict : std::uint8_t
{
    MovedBack,       // moved back now
    DropExtraName,   // under both names (a move cut off between link and unlink): the new one goes
    AlreadyBack,     // under its old name already: nothing moves
    OldNameTaken,    // another file has the old name
    Replaced,        // another file has the new name, and the run's file is not under the old one
    Gone,            // neither name holds the run's file
    MoveFailed,      // the move back failed for another reason
};

// The undo of one move, decided from what its names hold: atNew, what the
// new name held before the move back was tried; moveError, that move's errno
// (0 done, -1 not tried: it is tried only when atNew is the file); atOld and
// twoNames (the file has another name too), looked at when the move was
// refused or not tried.
[[nodiscard]] UndoVerdict DecideUndo(UndoHolds atNew, int moveError, UndoHolds atOld, bool twoNames);

// Undoes one move inside the open folder: the file under newName goes back to
// oldName only when it is file (any file, for a legacy move that kept no
// identity), never replacing one. With model, a trial against it (item is
// the move's there). device: the folder's, for MoveNoReplaceAt. A placeholder
// of the move's (IsOurPlaceholder) left under the new name of a file found
// back under its old one is removed. err: errno of a failed move, else 0.
[[nodiscard]] UndoVerdict UndoMoveAt(int folder, const std::string& oldName, const std::string& newName, const FileId& file,
                       bool legacy, int& err, class CFolderModel* model = nullptr, std::uint32_t item = 0,
                       std::uint64_t device = 0);

// Moves the files of a past run back to their old names, newest first, never
// replacing a file and only when the file under the new name is the one the
// run moved; with trial, predicts the same and changes nothing. Moves already
// back are passed over; each one found back is marked in the journal, so a
// second undo retries exactly those left. Damaged records are reported as
// failed. 1 done; 0 stopped on request; -1 done but the marks could not be
// written (errno).
[[nodiscard]] int UndoRun(CPastRun& run, bool trial, BatchObserver& observer);
