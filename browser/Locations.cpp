// SPDX-License-Identifier: GPL-3.0-or-later
#include "browser/Locations.h"

#include "core/Translate.h"

#include <wx/filename.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>

// Keys, compared in English; shown in the user's language.
// TRANSLATORS: the location of the drives, in the lists and the folder tree.
const char* const kLocMyComputer = N_("My Computer");
// TRANSLATORS: the user's desktop folder, as the folder tree shows it.
const char* const kLocDesktop = N_("Desktop");
// TRANSLATORS: the user's documents folder as the directory list shows it
// (singular); the folder tree says "My Documents".
const char* const kLocMyDocument = N_("My Document");

bool IsLocationKey(const std::string& location)
{
    return location == kLocMyComputer || location == kLocDesktop || location == kLocMyDocument;
}

namespace
{
std::string FileNameBytes(const wxString& path)
{
    const wxCharBuffer bytes = path.fn_str();
    return bytes.data() ? std::string(bytes.data(), bytes.length()) : std::string();
}

bool IsFolder(const std::string& path)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithoutFinalSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The folder that an XDG user-dirs file names under key, read as the
// xdg-user-dirs tools read it: a quoted "$HOME/..." or absolute path with
// backslash escapes, the last line for the key counting. False when the file
// is missing or names no such folder.
bool UserDirFromFile(const std::string& file, const std::string& key, const std::string& home,
                     std::string& folder)
{
    std::ifstream in(file, std::ios::binary);
    bool found = false;
    std::string line;
    while (in && std::getline(in, line))
    {
        size_t p = line.find_first_not_of(" \t");
        if (p == std::string::npos || line.compare(p, key.size(), key) != 0)
            continue;
        p = line.find_first_not_of(" \t", p + key.size());
        if (p == std::string::npos || line[p] != '=')
            continue;
        p = line.find_first_not_of(" \t", p + 1);
        if (p == std::string::npos || line[p] != '"')
            continue;
        ++p;
        bool relative = false;
        if (line.compare(p, 6, "$HOME/") == 0 || line.compare(p, 6, "$HOME\"") == 0)
        {
            relative = true;
            p += 5;
        }
        else if (p >= line.size() || line[p] != '/')
        {
            continue;
        }
        std::string value;
        for (; p < line.size() && line[p] != '"'; ++p)
        {
            if (line[p] == '\\' && p + 1 < line.size())
                ++p;
            value += line[p];
        }
        folder = relative ? home + value : value;
        found = true;
    }
    return found;
}
} // namespace

std::string SpecialFolderPath(int which)
{
    const std::string home = WithoutFinalSlash(FileNameBytes(wxFileName::GetHomeDir()));
    const bool desktop = which == CSIDL_DESKTOP;
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string config = configHome && configHome[0] == '/' ? configHome : home + "/.config";
    // Without a user-dirs file (or a line in it), the folders xdg-user-dirs
    // would have made.
    const std::string usual = home + (desktop ? "/Desktop" : "/Documents");
    std::string folder;
    if (!UserDirFromFile(config + "/user-dirs.dirs", desktop ? "XDG_DESKTOP_DIR" : "XDG_DOCUMENTS_DIR",
                         home, folder))
        folder = usual;
    folder = WithoutFinalSlash(folder);
    if (IsFolder(folder) || home.empty())
        return folder;
    // The settings may name a folder that was renamed or never made while
    // the usual one exists.
    if (IsFolder(usual))
        return usual;
    // A desktop folder that was never made would leave "Desktop" empty and,
    // as the top of the browser, impossible to leave by going up.
    return home;
}

// ---------------------------------------------------------------------------
// Drives

namespace
{
// File systems that are no place for files of the user.
const char* const kSystemTypes[] = {
    "auto",      "autofs",      "bdev",        "binfmt_misc", "bpf",        "cgroup",
    "cgroup2",   "configfs",    "cpuset",      "debugfs",     "devfs",      "devpts",
    "devtmpfs",  "ecryptfs",    "efivarfs",    "fdescfs",     "fusectl",    "fuse.gvfsd-fuse",
    "fuse.portal", "fuse.lxcfs", "fuse.snapfuse", "hugetlbfs", "kernfs",    "linprocfs",
    "linsysfs",  "lxcfs",       "mfs",         "mqueue",      "nfsd",       "nsfs",
    "nullfs",    "ocfs2_dlmfs", "overlay",     "proc",        "procfs",     "pstore",
    "ptyfs",     "ramfs",       "rootfs",      "rpc_pipefs",  "securityfs", "selinuxfs",
    "squashfs",  "swap",        "sysfs",       "tmpfs",       "tracefs",    "usbfs",
};

// Folders of the system itself: a file system mounted exactly there is not
// one the user browses as a drive.
const char* const kSystemFolders[] = {
    "/bin",  "/boot",     "/compat/linux/proc", "/compat/linux/sys", "/dev",      "/etc",
    "/home", "/lib",      "/lib64",             "/libexec",          "/live/cow", "/live/image",
    "/media", "/mnt",     "/net",               "/opt",              "/proc",     "/rescue",
    "/root", "/run",      "/sbin",              "/srv",              "/sys",      "/tmp",
    "/usr",  "/usr/X11R6", "/usr/local",        "/usr/obj",          "/usr/ports", "/usr/src",
    "/usr/xobj", "/var",  "/var/crash",         "/var/lib",          "/var/local", "/var/log",
    "/var/log/audit", "/var/mail", "/var/run",  "/var/tmp",
};

// Whole trees of the system: kernel interfaces, run-time state, boot files,
// package images and container bind mounts.
const char* const kSystemTrees[] = {
    "/dev/", "/proc/", "/sys/", "/run/", "/var/run/", "/boot/", "/etc/", "/snap/", "/var/lib/",
};

const char* const kSystemDevices[] = {"none", "sunrpc", "devpts", "nfsd", "/dev/loop", "/dev/vn"};

template <size_t N>
bool IsOneOf(const std::string& text, const char* const (&list)[N])
{
    return std::any_of(std::begin(list), std::end(list),
                       [&text](const char* item) { return text == item; });
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool IsSystemMountPoint(const std::string& path)
{
    if (path == "/")
        return false;
    if (IsOneOf(path, kSystemFolders))
        return true;
    if (StartsWith(path, "/run/media/"))
        return false;   // where desktops mount removable media
    for (const char* tree : kSystemTrees)
    {
        if (StartsWith(path, tree))
            return true;
    }
    // A mount point inside a hidden folder (or hidden itself), such as
    // ~/.gvfs or ~/.cache/doc, is hidden from the listings anyway.
    return path.find("/.") != std::string::npos;
}

// The table escapes blanks, tabs, line feeds and backslashes as \ooo.
std::string UnescapeField(const std::string& field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i)
    {
        if (field[i] == '\\' && i + 3 < field.size())
        {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7')
            {
                out += static_cast<char>(((a - '0') << 6) | ((b - '0') << 3) | (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string> SplitFields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

std::string DriveName(const std::string& mountPoint)
{
    if (mountPoint == "/")
        // TRANSLATORS: the name of the root file system, "File System (/)".
        return Tr("File System");
    const size_t slash = mountPoint.rfind('/');
    return mountPoint.substr(slash + 1);
}

void SetKind(DriveEntry& drive, const std::string& device, const std::string& type,
             const RemovableProbe& isRemovable)
{
    if (type == "iso9660" || type == "udf" || StartsWith(device, "/dev/sr"))
    {
        drive.kind = "CDRom";
        drive.image = IMG_CDROM;
    }
    else if (StartsWith(device, "/dev/fd"))
    {
        drive.kind = "Floppy";
        drive.image = IMG_FLOPPY;
    }
    else if (isRemovable && StartsWith(device, "/dev/") && isRemovable(device))
    {
        drive.kind = "RemoveableDrive";
        drive.image = IMG_REMOVABLE;
    }
    else
    {
        drive.kind = "Harddrive";
        drive.image = IMG_HARDDRIVE;
    }
}
} // namespace

std::string RootDriveText()
{
    return DriveName("/") + " (/)";
}

std::vector<DriveEntry> EnumerateDrives(const std::string& mountTable,
                                        const RemovableProbe& isRemovable)
{
    // Keyed by mount point: a later mount over the same point hides the
    // earlier one, and the map gives the order of mount points.
    std::map<std::string, DriveEntry> byMountPoint;
    std::istringstream lines(mountTable);
    std::string line;
    while (std::getline(lines, line))
    {
        const std::vector<std::string> fields = SplitFields(line);
        if (fields.size() < 3)
            continue;
        const std::string device = UnescapeField(fields[0]);
        const std::string mountPoint = WithoutFinalSlash(UnescapeField(fields[1]));
        const std::string type = fields[2];
        if (mountPoint.empty() || mountPoint[0] != '/')
            continue;
        if (mountPoint != "/")
        {
            if (IsOneOf(type, kSystemTypes) || IsOneOf(device, kSystemDevices) ||
                IsSystemMountPoint(mountPoint))
            {
                byMountPoint.erase(mountPoint);
                continue;
            }
        }
        DriveEntry drive;
        drive.root = mountPoint;
        drive.text = DriveName(mountPoint) + " (" + mountPoint + ")";
        SetKind(drive, device, type, isRemovable);
        byMountPoint[mountPoint] = drive;
    }
    // "/" sorts first among mount points anyway.
    std::vector<DriveEntry> drives;
    drives.reserve(byMountPoint.size());
    for (auto& entry : byMountPoint)
        drives.push_back(std::move(entry.second));
    return drives;
}

std::vector<DriveEntry> EnumerateDrives()
{
    std::ifstream in("/proc/self/mounts", std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return EnumerateDrives(text.str(), IsRemovableDevice);
}

namespace
{
bool ReadsOne(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char c = 0;
    return in.get(c) && c == '1';
}
} // namespace

bool IsRemovableDevice(const std::string& device)
{
    if (!StartsWith(device, "/dev/"))
        return false;
    // /dev/disk/by-label/... and the like are links to the real node.
    char resolved[PATH_MAX];
    const std::string node = realpath(device.c_str(), resolved) ? resolved : device;
    const size_t slash = node.rfind('/');
    const std::string name = node.substr(slash + 1);
    if (name.empty())
        return false;
    // A whole disk has the flag itself; a partition's disk is its parent.
    char sysPath[PATH_MAX];
    if (!realpath(("/sys/class/block/" + name).c_str(), sysPath))
        return false;
    const std::string sys = sysPath;
    struct stat st;
    if (stat((sys + "/removable").c_str(), &st) == 0)
        return ReadsOne(sys + "/removable");
    return ReadsOne(sys.substr(0, sys.rfind('/')) + "/removable");
}

// ---------------------------------------------------------------------------
// Moving between locations

std::string ParentLocation(const std::string& location)
{
    if (location.empty())
        return kLocMyComputer;
    if (location == "/")
        return kLocMyComputer;
    if (location == kLocMyComputer)
        return kLocDesktop;
    if (location == kLocDesktop)
        return kLocDesktop;   // the top: going up stays there
    const std::string path =
        location == kLocMyDocument ? SpecialFolderPath(CSIDL_PERSONAL) : location;
    // A final separator does not count: "/home/anna/" goes up to "/home".
    if (path.size() < 2)
        return path;
    const size_t slash = path.rfind('/', path.size() - 2);
    if (slash == std::string::npos)
        return path;
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + '/' + name;
}

std::string EnteredLocation(const std::string& location, const std::string& name, int kind)
{
    switch (kind)
    {
    case ROW_MYDOCUMENT:
    case ROW_MYCOMPUTER:
        return name;
    case ROW_DRIVE:
    {
        // "LABEL (/mount/point)": the label is a last path component and so
        // holds no '/', which makes the first "(/" the mount point's start
        // even when the label or the mount point hold parentheses.
        const size_t open = name.find("(/");
        if (open != std::string::npos && name.back() == ')')
            return name.substr(open + 1, name.size() - open - 2);
        return name;
    }
    default:
        break;
    }
    if (location == kLocDesktop)
        return JoinPath(SpecialFolderPath(CSIDL_DESKTOP), name);
    if (location == kLocMyDocument)
        return JoinPath(SpecialFolderPath(CSIDL_PERSONAL), name);
    return JoinPath(location, name);
}
