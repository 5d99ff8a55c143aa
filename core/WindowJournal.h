// SPDX-License-Identifier: GPL-3.0-or-later
// The window's renames in the same journal as the command-line renamer's runs,
// so that they can be listed and undone from a shell after the window is gone
// (mp3tavoly-rename --runs, --undo RUN). One Auto-Rename batch is one run; a
// rename by hand (in the queue, or on the tag editor's Save) is a run of its
// own. Each move is recorded before it is made. When the journal cannot be
// kept the window renames all the same; the reason is told once a session.
#pragma once

#include "core/Journal.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Where a rename is in the journal: its run and its move's number; 0 when the
// rename was not recorded.
struct JournalRef
{
    std::uint32_t run = 0;
    std::uint32_t seq = 0;
};

class CWindowJournal
{
public:
    // The journal folder is taken when the first run begins: "" for the
    // usual one ($XDG_STATE_HOME/mp3tavoly).
    explicit CWindowJournal(std::string folder = "");
    ~CWindowJournal();
    CWindowJournal(const CWindowJournal&) = delete;
    CWindowJournal& operator=(const CWindowJournal&) = delete;

    // The renames between BeginRun and EndRun make one run.
    void BeginRun();
    void EndRun();
    // RenameInFolder for a group of renames, whose records go to disk with
    // one write before the first of them is made: Plan each (a slot, or
    // kNotPlanned when it is not recorded), WritePlan, then Move each slot in
    // order. A slot not planned or not written is renamed without a record.
    static constexpr std::uint32_t kNotPlanned = UINT32_MAX;
    void BeginGroup();
    // file: the identity of the entry at path when the caller just took it.
    std::uint32_t Plan(const std::string& path, const std::string& newName, const FileId* file = nullptr);
    void WritePlan();
    int Move(std::uint32_t slot, const std::string& path, const std::string& newName, std::string& newPath,
             JournalRef& ref);
    // A rename by hand: a run of its own (none when the name stays).
    int RenameAlone(const std::string& path, const std::string& newName, std::string& newPath);

    // The window's Undo of rows, between BeginUndo and EndUndo.
    void BeginUndo();
    void EndUndo();
    // The window moved ref's file back to oldPath: the run learns it is back,
    // when it is the very file the run moved.
    void MovedBack(const JournalRef& ref, const std::string& oldPath);
    // The window could not move ref's file back: whether the very file is
    // under oldPath already (put back by an undo from a shell); the run then
    // learns it is back.
    bool FoundBack(const JournalRef& ref, const std::string& oldPath);

    // Why renames are not being journaled, the first time it is asked after
    // it happened in this session; "" otherwise.
    std::string TakeWarning();

private:
    void Broken(const std::string& why);
    RunMove* MoveOf(const JournalRef& ref, CRunFile*& run);

    std::string m_folder;
    std::unique_ptr<CRunJournal> m_run;
    std::unique_ptr<CFolderTable> m_folders;
    std::string m_lastFolder;        // the folder of the last rename, and
    std::uint32_t m_lastIndex = 0;   // its index in m_folders
    struct Planned
    {
        std::uint64_t seq;
        std::uint32_t folder;
    };
    std::vector<Planned> m_plan;     // the group's records
    bool m_planWritten = false;
    std::uint32_t m_runNumber = 0;
    bool m_broken = false;           // the open run stopped being recorded
    std::string m_problem;
    bool m_warned = false;
    std::map<std::uint32_t, std::unique_ptr<CRunFile>> m_undoing;   // null: cannot be marked
};
