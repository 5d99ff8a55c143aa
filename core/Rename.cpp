// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TagFile.h"

#include "core/Translate.h"
#include "core/Warning.h"
#include "platform/FileSystem.h"
#include "platform/FolderTable.h"

std::string FolderOf(const std::string& path)
{
    if (path.size() < 2)
        return path;
    for (std::size_t i = path.size() - 1; i-- > 0;) {
        if (IsSeparator(path[i]))
            return path.substr(0, i);
    }
    return path;
}

bool CheckMp3FileName(const std::string& name)
{
    std::string suffix = name.size() >= 4 ? name.substr(name.size() - 4) : std::string();
    for (char& c : suffix) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (suffix != ".mp3") {
        // TRANSLATORS: a warning box; \r\n is its line break, keep it as it is.
        ShowWarning(Tr("Invalid file name!\r\nThe \".mp3\" suffix missed."));
        return false;
    }
    if (name.size() < 5) {
        // TRANSLATORS: a warning box; keep the trailing blank.
        ShowWarning(Tr("Invalid file name! "));
        return false;
    }
    if (name[0] == ' ') {
        ShowWarning(Tr("Invalid file name!\r\nThe first letter of the file name can not be blank."));
        return false;
    }
    return true;
}

// The new path is built with '/' only, not FolderOf: a backslash is an ordinary
// byte of a file name here, and splitting at it would move the file elsewhere.
int RenameInFolder(const std::string& path, const std::string& newName,
                   std::string& newPath)
{
    if (!IsPlainName(newName))
        return 0;
    const std::string target = PathInSameFolder(path, newName);
    if (!MoveNoReplace(path, target))
        return 0;
    newPath = target;
    return 1;
}

std::string AutoRenameTarget(const std::string& path, bool artistFirst,
                             std::string& newName, std::string& title, std::string& artist, FileId* entry)
{
    const std::string state = TheTagFile().ReadSongName(path, title, artist, "MP3", entry);
    if (state == kStateSuccessful)
        newName = ComposeTargetName(title, artist, artistFirst);
    return state;
}

std::string AutoRenameFile(const std::string& path, bool artistFirst,
                           std::string& newName, std::string& newPath,
                           std::string& title, std::string& artist)
{
    std::string name;
    const std::string state = AutoRenameTarget(path, artistFirst, name, title, artist);
    if (state != kStateSuccessful)
        return state;
    std::string target;
    if (!RenameInFolder(path, name, target))
        return kStateRenameFailed;
    newName = name;
    newPath = target;
    return kStateSuccessful;
}

std::string AutoRenameFile(const std::string& path, bool artistFirst,
                           std::string& newName, std::string& newPath)
{
    std::string title, artist;
    return AutoRenameFile(path, artistFirst, newName, newPath, title, artist);
}
