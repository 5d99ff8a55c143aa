// SPDX-License-Identifier: GPL-3.0-or-later
// Locations and drives: plain logic over strings and mount tables.
#include "BrowserTestSupport.h"

#include <set>
#include <tuple>
#include <unistd.h>

namespace
{
// Root, text, kind and image.
using Drive = std::tuple<std::string, std::string, std::string, int>;

std::vector<Drive> Drives(const std::string& table, const std::set<std::string>& removable = {})
{
    std::vector<Drive> drives;
    for (const DriveEntry& e : EnumerateDrives(table, [&removable](const std::string& device) {
             return removable.count(device) != 0;
         }))
        drives.emplace_back(e.root, e.text, e.kind, e.image);
    return drives;
}
} // namespace

TEST(BrowserLocationsTest, DrivesAreTheMountedFileSystemsAPersonBrowses)
{
    const std::string table = "proc /proc proc rw,nosuid 0 0\n"
                              "/dev/nvme0n1p2 / ext4 rw,relatime 0 0\n"
                              "/dev/nvme0n1p1 /boot/efi vfat rw 0 0\n"
                              "/dev/nvme0n1p3 /home ext4 rw 0 0\n"
                              "gvfsd-fuse /run/user/1000/gvfs fuse.gvfsd-fuse rw 0 0\n"
                              "/dev/sdb1 /media/anna/MUSIC vfat rw 0 0\n"
                              "/dev/sr0 /media/anna/AUDIO\\040CD iso9660 ro 0 0\n"
                              "nas:/export/music /mnt/nas nfs4 rw 0 0\n"
                              "/dev/fd0 /media/floppy vfat rw 0 0\n"
                              "/dev/sdd1 /run/media/anna/STICK exfat rw 0 0\n"
                              "/dev/sde1 /home/anna/.cache/mnt ext4 rw 0 0\n"
                              "garbage\n"
                              "\n";
    const std::vector<Drive> expected = {
        {"/", "File System (/)", "Harddrive", IMG_HARDDRIVE},
        {"/media/anna/AUDIO CD", "AUDIO CD (/media/anna/AUDIO CD)", "CDRom", IMG_CDROM},
        {"/media/anna/MUSIC", "MUSIC (/media/anna/MUSIC)", "RemoveableDrive", IMG_REMOVABLE},
        {"/media/floppy", "floppy (/media/floppy)", "Floppy", IMG_FLOPPY},
        {"/mnt/nas", "nas (/mnt/nas)", "Harddrive", IMG_HARDDRIVE},
        {"/run/media/anna/STICK", "STICK (/run/media/anna/STICK)", "RemoveableDrive", IMG_REMOVABLE},
    };
    EXPECT_EQ(Drives(table, {"/dev/sdb1", "/dev/sdd1"}), expected);

    // A container's root on an overlay is still "/"; the last mount over a
    // point counts, and a system one hides the drive that stood there.
    EXPECT_TRUE(Drives("").empty());
    EXPECT_EQ(Drives("overlay / overlay rw 0 0\n/dev/vda /etc/hosts ext4 rw 0 0\n"),
              (std::vector<Drive>{{"/", "File System (/)", "Harddrive", IMG_HARDDRIVE}}));
    EXPECT_EQ(Drives("/dev/sdb1 /mnt/x ext4 rw 0 0\n/dev/sr1 /mnt/x/ udf ro 0 0\n"),
              (std::vector<Drive>{{"/mnt/x", "x (/mnt/x)", "CDRom", IMG_CDROM}}));
    EXPECT_TRUE(Drives("/dev/sdb1 /mnt/x ext4 rw 0 0\ntmpfs /mnt/x tmpfs rw 0 0\n").empty());
    EXPECT_EQ(std::get<0>(Drives("/dev/sdb1 /mnt/a\\011b\\134c ext4 rw 0 0\n").at(0)), "/mnt/a\tb\\c");
    EXPECT_FALSE(IsRemovableDevice("/dev/does-not-exist"));
    EXPECT_FALSE(IsRemovableDevice("nas:/export"));
}

TEST(BrowserLocationsTest, GoingUpAndOpeningARow)
{
    TempDir dir;
    UserFolders folders(dir.Path());
    EXPECT_EQ(ParentLocation(""), "My Computer");
    EXPECT_EQ(ParentLocation("/home/anna/Music"), "/home/anna");
    EXPECT_EQ(ParentLocation("/home/anna/Music/"), "/home/anna");
    EXPECT_EQ(ParentLocation("/home"), "/");
    // A backslash is part of a name here, not a separator.
    EXPECT_EQ(ParentLocation("/music/AC\\DC"), "/music");
    EXPECT_EQ(ParentLocation("relative"), "relative");
    EXPECT_EQ(ParentLocation("my computer"), "my computer");   // keys are exact

    // Parentheses in the label and in the mount point itself.
    EXPECT_EQ(EnteredLocation("My Computer", "x (1) (/media/a(/x (1))", ROW_DRIVE), "/media/a(/x (1)");
    EXPECT_EQ(EnteredLocation("/", "etc", ROW_FOLDER), "/etc");
    EXPECT_EQ(EnteredLocation("Desktop", "Music", ROW_FOLDER), folders.desktop + "/Music");
    EXPECT_EQ(EnteredLocation("My Document", "x", ROW_FOLDER), folders.documents + "/x");
}

TEST(BrowserLocationsTest, AMissingUserFolderGivesTheHomeFolder)
{
    TempDir dir;
    UserFolders folders(dir.Path());
    // A folder that was never made: the home folder stands in.
    ASSERT_EQ(rmdir(folders.desktop.c_str()), 0);
    const std::string desktop = SpecialFolderPath(CSIDL_DESKTOP);
    EXPECT_NE(desktop, folders.desktop);
    struct stat st;
    EXPECT_TRUE(stat(desktop.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) << desktop;
}

TEST(BrowserLocationsTest, WithoutAUserDirsFileTheUsualFoldersOrHome)
{
    TempDir dir;
    const std::string home = dir.Path();
    const std::string config = home + "/config";
    for (const std::string& folder : {home + "/Desktop", home + "/Documents", config})
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    struct Env
    {
        const char* name;
        std::optional<std::string> old;
        explicit Env(const char* n, const std::string& value) : name(n)
        {
            if (const char* v = std::getenv(n))
                old = v;
            setenv(n, value.c_str(), 1);
        }
        ~Env() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
    } homeVar("HOME", home), configVar("XDG_CONFIG_HOME", config);

    EXPECT_EQ(SpecialFolderPath(CSIDL_DESKTOP), home + "/Desktop");
    EXPECT_EQ(SpecialFolderPath(CSIDL_PERSONAL), home + "/Documents");
    ASSERT_EQ(rmdir((home + "/Documents").c_str()), 0);
    EXPECT_EQ(SpecialFolderPath(CSIDL_PERSONAL), home);

    // A file that names one folder, relative to home: the other keeps its
    // default.
    ASSERT_EQ(mkdir((home + "/Bureau \"1\"").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((home + "/Documents").c_str(), 0755), 0);
    std::ofstream(config + "/user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                              << "XDG_DESKTOP_DIR=\"$HOME/Bureau \\\"1\\\"\"\n";
    EXPECT_EQ(SpecialFolderPath(CSIDL_DESKTOP), home + "/Bureau \"1\"");
    EXPECT_EQ(SpecialFolderPath(CSIDL_PERSONAL), home + "/Documents");

    // Folders the file names but that are gone: the usual ones stand in.
    std::ofstream(config + "/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/Gone\"\n"
                                              << "XDG_DOCUMENTS_DIR=\"" << home << "/Missing\"\n";
    EXPECT_EQ(SpecialFolderPath(CSIDL_DESKTOP), home + "/Desktop");
    EXPECT_EQ(SpecialFolderPath(CSIDL_PERSONAL), home + "/Documents");
}
