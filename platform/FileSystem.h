// SPDX-License-Identifier: GPL-3.0-or-later
// The few file-system calls the program needs beyond plain reading and
// writing. Paths are byte strings.
//
// Results, here and in core/: no exceptions. A call that can fail says so in
// its result: 1 (or true) done, 0 (or false) failed with errno saying why; a
// descriptor, or -1 with errno; where a call has more outcomes, its header
// lists them (a tag read: 1 done, -2 no tag, -1 unreadable, 0 refused), and
// a queue's outcome is its state text. Such results are [[nodiscard]]; one
// ignored on purpose is cast to (void), with the reason beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// True when the last four bytes of the name, in any case, are ".mp3".
bool HasMp3Suffix(const char* name, std::size_t length);

// True when the path can be handed to the system as it is: not empty and
// without a zero byte (which would silently cut it short).
bool IsUsablePath(const std::string& path);

// The path of name in the folder that holds path. Only '/' separates here: on
// this system a backslash is an ordinary byte of a file name. A path without
// '/' gives name itself (the current folder).
std::string PathInSameFolder(const std::string& path, const std::string& name);

// Moves (renames) a file and never replaces one: 1 done, 0 failed (errno set,
// EEXIST when the target name is taken; nothing changed), -1 failed and the
// folder may not be as before (errno set): the file has a second name, or an
// empty placeholder of ours, or a way-station name (CaseDetourName) that the
// file system would not let go of; whoever recorded the move keeps it, so
// that an undo puts things right. Moving a file onto
// its own unchanged path succeeds and touches nothing. On a case-insensitive
// file system a change of letter case only is done through a temporary name.
[[nodiscard]] int MoveNoReplace(const std::string& from, const std::string& to);
// The same inside one open folder: from and to are names in it (or, with
// AT_FDCWD, paths), so a folder swapped for a link since it was opened
// cannot redirect the move.
[[nodiscard]] int MoveNoReplaceAt(int folder, const std::string& from, const std::string& to);
// The same for a folder on device (its st_dev): the way of moving that the
// device's file system took last is tried first (see FileSystem.cpp), so a
// file system without rename flags or hard links costs no refused call a
// file. 0 for none known.
[[nodiscard]] int MoveNoReplaceAt(int folder, std::uint64_t device, const std::string& from, const std::string& to);
// The name a change of letter case only goes through on a file system that
// folds case ("a.mp3" to "A.mp3" by way of "a.mp3.tavoly-case").
std::string CaseDetourName(const std::string& name);
// Forgets the ways file systems took (a new run, or a drive replaced).
void ForgetMoveWays();
// Whether name in folder may be an empty placeholder this program's move
// left, killed between its create and the rename over it: a regular file of
// no bytes and one name, the runner's own (FAT and its kin give every file one
// owner and one mode, so nothing more tells it), changed last before this
// process began, so never one another process is making now. A placeholder
// this process left itself stays (nothing is lost; the undo says the name is
// taken).
[[nodiscard]] bool IsOurPlaceholder(int folder, const char* name);

// Reads length bytes at offset, retrying short reads and interruptions: true,
// or false with errno (EIO when the file ends first, as when it shrank).
[[nodiscard]] bool ReadAt(int fd, void* buffer, std::size_t length, long long offset);

// Bytes of the file open on fd read already, at most two runs of them (its
// head and its tail): while the scope lasts, ReadAt on this thread takes what
// lies inside one of them from here instead of reading it again (on a share,
// each read is a round trip). Scopes do not nest.
class CKnownBytes
{
public:
    CKnownBytes(int fd, long long headAt, const void* head, std::size_t headLength, long long tailAt,
                const void* tail, std::size_t tailLength);
    ~CKnownBytes();
    CKnownBytes(const CKnownBytes&) = delete;
    CKnownBytes& operator=(const CKnownBytes&) = delete;
};

// The full path of the running program, or "" when it cannot be found.
std::string ProgramFilePath();

// The folder of the program file, ending with '/', or "" when unknown.
std::string ProgramDirectory();

// The file name of the program without its folder ("" when unknown).
std::string ProgramBaseName();
