// Locations and drives: plain logic over strings and mount tables.
#include "BrowserTestSupport.h"

#include "browser/Locations.h"

#include <set>
#include <unistd.h>

namespace
{
struct Drive
{
    std::string root, text, kind;
    int image;
    bool operator==(const Drive& o) const
    {
        return root == o.root && text == o.text && kind == o.kind && image == o.image;
    }
};

std::ostream& operator<<(std::ostream& out, const Drive& d)
{
    return out << "{" << d.root << ", " << d.text << ", " << d.kind << ", " << d.image << "}";
}

std::vector<Drive> Drives(const std::string& table, const std::set<std::string>& removable = {})
{
    std::vector<Drive> drives;
    for (const DriveEntry& e : EnumerateDrives(table, [&removable](const std::string& device) {
             return removable.count(device) != 0;
         }))
        drives.push_back(Drive{e.root, e.text, e.kind, e.image});
    return drives;
}
} // namespace

TEST(BrowserLocationsTest, DrivesAreTheMountedFileSystemsAPersonBrowses)
{
    const std::string table =
        "sysfs /sys sysfs rw,nosuid 0 0\n"
        "proc /proc proc rw 0 0\n"
        "udev /dev devtmpfs rw 0 0\n"
        "devpts /dev/pts devpts rw 0 0\n"
        "tmpfs /run tmpfs rw 0 0\n"
        "/dev/nvme0n1p2 / ext4 rw,relatime 0 0\n"
        "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
        "/dev/nvme0n1p1 /boot/efi vfat rw 0 0\n"
        "/dev/nvme0n1p3 /home ext4 rw 0 0\n"
        "/dev/loop3 /snap/core/123 squashfs ro 0 0\n"
        "overlay /var/lib/docker/overlay2/x/merged overlay rw 0 0\n"
        "gvfsd-fuse /run/user/1000/gvfs fuse.gvfsd-fuse rw 0 0\n"
        "/dev/sdb1 /media/anna/MUSIC vfat rw 0 0\n"
        "/dev/sr0 /media/anna/AUDIO\\040CD iso9660 ro 0 0\n"
        "nas:/export/music /mnt/nas nfs4 rw 0 0\n"
        "/dev/fd0 /media/floppy vfat rw 0 0\n"
        "/dev/sdc1 /data ext4 rw 0 0\n"
        "/dev/sdd1 /run/media/anna/STICK exfat rw 0 0\n"
        "/dev/sde1 /home/anna/.cache/mnt ext4 rw 0 0\n"
        "tmpfs /dev/shm tmpfs rw 0 0\n"
        "garbage\n"
        "\n";
    const std::vector<Drive> expected = {
        {"/", "File System (/)", "Harddrive", IMG_HARDDRIVE},
        {"/data", "data (/data)", "Harddrive", IMG_HARDDRIVE},
        {"/media/anna/AUDIO CD", "AUDIO CD (/media/anna/AUDIO CD)", "CDRom", IMG_CDROM},
        {"/media/anna/MUSIC", "MUSIC (/media/anna/MUSIC)", "RemoveableDrive", IMG_REMOVABLE},
        {"/media/floppy", "floppy (/media/floppy)", "Floppy", IMG_FLOPPY},
        {"/mnt/nas", "nas (/mnt/nas)", "Harddrive", IMG_HARDDRIVE},
        {"/run/media/anna/STICK", "STICK (/run/media/anna/STICK)", "RemoveableDrive", IMG_REMOVABLE},
    };
    EXPECT_EQ(Drives(table, {"/dev/sdb1", "/dev/sdd1"}), expected);

    // No table, no drives; a container's root on an overlay is still "/";
    // a later mount over the same point is the one that counts, and one over
    // a system folder hides the drive that stood there.
    EXPECT_TRUE(Drives("").empty());
    EXPECT_EQ(Drives("overlay / overlay rw 0 0\n/dev/vda /etc/hosts ext4 rw 0 0\n"),
              (std::vector<Drive>{{"/", "File System (/)", "Harddrive", IMG_HARDDRIVE}}));
    EXPECT_EQ(Drives("/dev/sdb1 /mnt/x ext4 rw 0 0\n/dev/sr1 /mnt/x/ udf ro 0 0\n"),
              (std::vector<Drive>{{"/mnt/x", "x (/mnt/x)", "CDRom", IMG_CDROM}}));
    EXPECT_TRUE(Drives("/dev/sdb1 /mnt/x ext4 rw 0 0\ntmpfs /mnt/x tmpfs rw 0 0\n").empty());
    // Octal escapes of tabs and backslashes in mount points.
    EXPECT_EQ(Drives("/dev/sdb1 /mnt/a\\011b\\134c ext4 rw 0 0\n")[0].root, "/mnt/a\tb\\c");
}

TEST(BrowserLocationsTest, ThisMachineHasItsRootDriveFirst)
{
    const std::vector<DriveEntry> drives = EnumerateDrives();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives[0].root, "/");
    EXPECT_EQ(drives[0].text, "File System (/)");
    EXPECT_FALSE(IsRemovableDevice("/dev/does-not-exist"));
    EXPECT_FALSE(IsRemovableDevice("nas:/export"));
}

TEST(BrowserLocationsTest, GoingUp)
{
    TempDir dir;
    UserFolders folders(dir.Path());
    EXPECT_EQ(ParentLocation(""), "My Computer");
    EXPECT_EQ(ParentLocation("/"), "My Computer");
    EXPECT_EQ(ParentLocation("My Computer"), "Desktop");
    EXPECT_EQ(ParentLocation("Desktop"), "Desktop");
    EXPECT_EQ(ParentLocation("/home/anna/Music"), "/home/anna");
    EXPECT_EQ(ParentLocation("/home/anna/Music/"), "/home/anna");
    EXPECT_EQ(ParentLocation("/home"), "/");
    EXPECT_EQ(ParentLocation("/media/anna/MUSIC"), "/media/anna");
    // A backslash is part of a name here, not a separator.
    EXPECT_EQ(ParentLocation("/music/AC\\DC"), "/music");
    EXPECT_EQ(ParentLocation("relative"), "relative");
    // The documents key goes up to the folder that holds the documents
    // folder, as a path.
    EXPECT_EQ(ParentLocation("My Document"), dir.Path());
    // Keys are exact.
    EXPECT_EQ(ParentLocation("my computer"), "my computer");
}

TEST(BrowserLocationsTest, OpeningARow)
{
    TempDir dir;
    UserFolders folders(dir.Path());
    EXPECT_EQ(EnteredLocation("Desktop", "My Document", ROW_MYDOCUMENT), "My Document");
    EXPECT_EQ(EnteredLocation("Desktop", "My Computer", ROW_MYCOMPUTER), "My Computer");
    EXPECT_EQ(EnteredLocation("My Computer", "File System (/)", ROW_DRIVE), "/");
    EXPECT_EQ(EnteredLocation("My Computer", "MUSIC (/media/anna/MUSIC)", ROW_DRIVE),
              "/media/anna/MUSIC");
    // Parentheses in the label or in the mount point itself.
    EXPECT_EQ(EnteredLocation("My Computer", "x (1) (/media/x (1))", ROW_DRIVE), "/media/x (1)");
    EXPECT_EQ(EnteredLocation("/", "etc", ROW_FOLDER), "/etc");
    EXPECT_EQ(EnteredLocation("/home/anna", "Music", ROW_FOLDER), "/home/anna/Music");
    EXPECT_EQ(EnteredLocation("Desktop", "Music", ROW_FOLDER), folders.desktop + "/Music");
    EXPECT_EQ(EnteredLocation("My Document", "x", ROW_FOLDER), folders.documents + "/x");
}

TEST(BrowserLocationsTest, UserFoldersComeFromTheUsersSettingsOrHome)
{
    TempDir dir;
    {
        UserFolders folders(dir.Path());
        EXPECT_EQ(SpecialFolderPath(CSIDL_DESKTOP), folders.desktop);
        EXPECT_EQ(SpecialFolderPath(CSIDL_PERSONAL), folders.documents);
        // A folder that was never made: the home folder stands in.
        ASSERT_EQ(rmdir(folders.desktop.c_str()), 0);
        const std::string desktop = SpecialFolderPath(CSIDL_DESKTOP);
        EXPECT_NE(desktop, folders.desktop);
        struct stat st;
        EXPECT_TRUE(stat(desktop.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) << desktop;
    }
}
