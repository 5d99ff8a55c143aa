// SPDX-License-Identifier: GPL-3.0-or-later
// One file renamed after its tag the way the window's queue renames it.
#pragma once

#include "TestFiles.h"

#include "core/RenameSession.h"
#include "core/TagFile.h"
#include "platform/FileSystem.h"

#include <string>

// Auto-renames one file as the window's queue does, through its engine, with
// the journal in a folder of the test's own: the state text, and on success
// the new name and path.
inline std::string AutoRenameOne(const std::string& path, bool artistFirst, std::string& newName,
                                 std::string& newPath)
{
    static const TempDir journal;
    CRenameSession session(journal / "state");
    std::string state;
    session.AutoRename({QueuedFile{path, session.FolderOf(path)}}, artistFirst,
                       [&](std::size_t, const RenameOutcome& outcome) {
                           state = outcome.state;
                           if (state == kStateSuccessful) {
                               newName = outcome.newName;
                               newPath = PathInSameFolder(path, newName);
                           }
                       });
    return state;
}
