// SPDX-License-Identifier: GPL-3.0-or-later
// Locations of the directory browser: the three keys, the drives (mounted
// file systems), going up and opening a row, and the image strip's indices.
// Plain logic over byte strings; only SpecialFolderPath and the no-argument
// EnumerateDrives ask the system anything.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Indices into the 15-image strip shared by the lists and the folder tree.
enum
{
    IMG_FOLDER = 0,
    IMG_FOLDER_OPEN = 1,
    IMG_DESKTOP = 3,
    IMG_MYCOMPUTER = 4,
    IMG_FLOPPY = 5,
    IMG_HARDDRIVE = 6,
    IMG_CDROM = 7,
    IMG_MYDOCUMENTS = 9,
    IMG_REMOVABLE = 10,
    IMG_MP3 = 11,
    IMG_PARENT = 14,
    IMG_COUNT = 15,
};

extern const char* const kLocMyComputer;  // "My Computer"
extern const char* const kLocDesktop;     // "Desktop"
extern const char* const kLocMyDocument;  // "My Document"

// True for the three location keys (compared byte for byte).
bool IsLocationKey(const std::string& location);

// Kinds of directory-list rows that lead somewhere.
enum
{
    ROW_FOLDER = -1,
    ROW_MYDOCUMENT = 2,
    ROW_MYCOMPUTER = 3,
    ROW_DRIVE = 4,
};

// The two shell folders behind "Desktop" and "My Document".
enum
{
    CSIDL_DESKTOP = 0,
    CSIDL_PERSONAL = 5,
};

// The user's desktop or documents folder without a final '/'. A folder the
// user's settings name but that does not exist gives ~/Desktop or
// ~/Documents where that exists, else the home folder, so the browser always
// has somewhere to stand.
std::string SpecialFolderPath(int which);

// One mounted file system as the browser shows it.
struct DriveEntry
{
    std::string root;   // the mount point: "/" or "/media/anna/MUSIC"
    std::string text;   // "File System (/)", "MUSIC (/media/anna/MUSIC)"
    std::string kind;   // "Floppy", "RemoveableDrive", "CDRom" or "Harddrive"
    int image = IMG_HARDDRIVE;
};

// Whether the block device behind a mount (for example "/dev/sdb1") is a
// removable one.
using RemovableProbe = std::function<bool(const std::string& device)>;

// The root file system's text, "File System (/)", in the user's language.
std::string RootDriveText();

// The drives of a mount table in the /proc/self/mounts format: "/" first,
// then the others by mount point; pseudo and system file systems, system
// folders and hidden mount points are left out.
std::vector<DriveEntry> EnumerateDrives(const std::string& mountTable,
                                        const RemovableProbe& isRemovable);

// The drives of this machine (/proc/self/mounts, removability from /sys).
std::vector<DriveEntry> EnumerateDrives();

// /sys/block/<disk>/removable of the disk that holds device.
bool IsRemovableDevice(const std::string& device);

// The location one level up.
std::string ParentLocation(const std::string& location);

// The location reached from location by opening the row called name of kind
// kind (ROW_FOLDER, ROW_MYDOCUMENT, ROW_MYCOMPUTER or ROW_DRIVE).
std::string EnteredLocation(const std::string& location, const std::string& name, int kind);

// folder + '/' + name, without doubling the separator after "/".
std::string JoinPath(const std::string& folder, const std::string& name);
