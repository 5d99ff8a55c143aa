// SPDX-License-Identifier: GPL-3.0-or-later
// The window's renames, made by the same engine as mp3tavoly-rename's and kept
// in the same journal, so that they can be listed and undone from a shell
// after the window is gone (mp3tavoly-rename --runs, --undo RUN). A queued
// file is known by the identity of its folder, taken when it was queued: the
// folder is reached again through descriptors and must still be that folder,
// so one swapped for a link (or for another folder) since leads nowhere.
// Files move by name inside their folder's descriptor, and an undo moves back
// only the very file the rename moved. One Auto-Rename is one run of the
// journal; a rename by hand is a run of its own. When the journal cannot be
// kept the window renames all the same; the reason is told once a session.
#pragma once

#include "core/Journal.h"
#include "platform/FolderTable.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class UndoVerdict : std::uint8_t;
class NameRule;

// Where a rename is in the journal: its run and its move's number; 0 when the
// rename was not recorded.
struct JournalRef
{
    std::uint32_t run = 0;
    std::uint32_t seq = 0;
};

// A queued file, as its row knows it.
struct QueuedFile
{
    std::string_view path;
    std::uint32_t folder;   // CFolderTable::kNone when it could not be known
};

// What an Auto-Rename made of a queued file.
struct RenameOutcome
{
    const char* state;       // kStateSuccessful, or why not
    std::string_view newName;   // with kStateSuccessful
    std::uint32_t folder;    // the file's folder, known now if it was not
    FileId file;             // the file renamed
    JournalRef ref;
    bool onlyId3v2;          // no song name: no ID3v1 tag, but an ID3v2 one
};

class CRenameSession
{
public:
    // journalFolder: "" for the usual one ($XDG_STATE_HOME/mp3tavoly), taken
    // when the first rename is recorded.
    explicit CRenameSession(std::string journalFolder = "");
    ~CRenameSession();
    CRenameSession(const CRenameSession&) = delete;
    CRenameSession& operator=(const CRenameSession&) = delete;

    // The folder of a file being queued at path, by identity; links in the
    // path are followed (the user named it). kNone with errno when it cannot
    // be opened.
    [[nodiscard]] std::uint32_t FolderOf(const std::string& path);
    // Searches the folder at path and all its sub-folders (WalkMp3Files);
    // found is told each MP3 file with its folder. False when the folder
    // cannot be opened.
    [[nodiscard]] bool SearchFolder(const std::string& path,
                      const std::function<void(std::uint32_t folder, const std::string& name,
                                               const std::string& path)>& found);

    // Names files by rule from now on instead of the window's rule (ID3v1);
    // null for the window's. The rule must outlive every AutoRename.
    void SetNameRule(NameRule* rule) { m_rule = rule; }

    // Renames each file after its tag, in order, as one run of the journal;
    // done is told each file's outcome by its place in files.
    void AutoRename(const std::vector<QueuedFile>& files, bool artistFirst,
                    const std::function<void(std::size_t, const RenameOutcome&)>& done);

    // Renames the file at path to newName in its folder, by hand: a run of
    // its own (none when the name stays). 1 done, with newPath; 0 not (errno).
    // folder as QueuedFile's, and learnt when it was not known.
    [[nodiscard]] int RenameByHand(std::uint32_t& folder, const std::string& path, const std::string& newName,
                     std::string& newPath);

    // One file to give its old name back, as the Auto-Rename left it.
    struct UndoItem
    {
        std::uint32_t folder;
        std::string path;      // where the Auto-Rename put it
        std::string oldName;
        FileId file;           // the file it moved
        JournalRef ref;
    };
    // Gives each file its old name back, in order, never replacing one, and
    // only when the file under the new name is the one the Auto-Rename moved.
    // done is told, by the item's place, whether the file is under its old
    // name now (moved back, or found there: undone from a shell) with that
    // path; when not, nothing moved.
    void Undo(const std::vector<UndoItem>& items,
              const std::function<void(std::size_t, bool back, const std::string& oldPath)>& done);

    // Lets go of every folder held open; called after each command, so that
    // the window never keeps a drive busy.
    void Release();

    // Why renames are not being journaled, the first time it is asked after
    // it happened in this session; "" otherwise.
    std::string TakeWarning();

private:
    class Observer;
    void Broken(const std::string& why);
    std::string Folder() const;
    int OpenFolder(std::uint32_t& folder, const std::string& path);
    RunMove* MoveOf(const JournalRef& ref, CPastRun*& run);
    bool UndoOne(const UndoItem& item, std::string& oldPath);
    // The journal's part of an undo, and its answer, once the move was tried.
    bool FinishUndo(const UndoItem& item, UndoVerdict verdict, std::string& oldPath);
    // Undoes items from from on side by side across folders, up to one whose
    // names an earlier one takes or leaves; tells done in order. Returns
    // where the next item is.
    std::size_t UndoSideBySide(const std::vector<UndoItem>& items, std::size_t from,
                               const std::function<void(std::size_t, bool, const std::string&)>& done);
    void EndUndo();
    void EndRun(CRunRecorder& run);

    std::string m_journalFolder;
    CFolderTable m_folders;
    std::string m_lastFolder;        // the folder part of the last FolderOf,
    std::uint32_t m_lastIndex = 0;   // and its index; until Release
    std::string m_problem;
    bool m_warned = false;
    std::map<std::uint32_t, std::unique_ptr<CPastRun>> m_undoing;   // null: cannot be marked
    NameRule* m_rule = nullptr;
};
