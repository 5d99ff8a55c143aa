// SPDX-License-Identifier: GPL-3.0-or-later
// The search of a folder and all its sub-folders for MP3 files, shared by the
// queue's folder add and the command-line renamer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>

// True when the last four bytes of the name, in any case, are ".mp3".
bool HasMp3Suffix(const char* name, std::size_t length);

// Folders already searched, by device and inode: a folder link can neither
// loop nor bring a folder in twice.
using FolderIds = std::set<std::pair<std::uint64_t, std::uint64_t>>;

// One MP3 file met by the search, with the identity of the folder holding it.
struct FoundFile
{
    const std::string& name;
    const std::string& path;
    std::uint64_t folderDevice;
    std::uint64_t folderInode;
};

// Searches folder depth first: its entries in the order the file system
// lists them, a sub-folder's files where the sub-folder is met. Names
// beginning with '.' are skipped; every other file whose name ends in ".mp3"
// (any case) goes to found, which returns false to stop the search. Links are
// followed; folders in entered are not searched again, and every folder
// searched is added to it. Each folder's entries are read and the folder
// closed before its sub-folders are searched, so depth costs no descriptors
// (nor stack). The current directory is not touched. False when folder itself
// could not be opened; sub-folders that cannot be opened are skipped, each
// told to unopened (when given) with the path and errno.
bool SearchMp3Files(const std::string& folder, FolderIds& entered,
                    const std::function<bool(const FoundFile&)>& found,
                    const std::function<void(const std::string&, int)>& unopened = {});
