// SPDX-License-Identifier: GPL-3.0-or-later
// The test file system keeps each promise its switches make, and each real
// FUSE file system mounts, takes a file, renames it and unmounts.
#include "TestFs.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <string>

using tavoly_test::TestFs;

namespace {

bool Put(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(fd) == 0 && ok;
}

std::string Get(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return "<" + std::string(strerror(errno)) + ">";
  char buf[256];
  ssize_t n = read(fd, buf, sizeof buf);
  close(fd);
  return n < 0 ? "<read failed>" : std::string(buf, static_cast<size_t>(n));
}

// 0 or the errno of the call.
int Renamed(const std::string& from, const std::string& to, unsigned flags) {
  return syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) == 0 ? 0 : errno;
}

int Linked(const std::string& from, const std::string& to) {
  return link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

ino_t Ino(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

#define MOUNT_OR_SKIP(fs) \
  if (!(fs).Mounted()) GTEST_SKIP() << (fs).Reason()

}  // namespace

// Without switches it is a faithful passthrough: flags, links, case and
// inode numbers as the backing folder has them.
TEST(TestFs, PassthroughKeepsTheBackingBehaviour) {
  auto fs = TestFs::Ours("");
  MOUNT_OR_SKIP(fs);
  std::string m = fs.Path();
  ASSERT_TRUE(Put(m + "/a.mp3", "A"));
  EXPECT_EQ(Get(fs.Backing() + "/a.mp3"), "A");
  ASSERT_TRUE(Put(m + "/b.mp3", "B"));
  ino_t before = Ino(m + "/a.mp3");
  EXPECT_EQ(Renamed(m + "/a.mp3", m + "/c.mp3", RENAME_NOREPLACE), 0);
  EXPECT_EQ(Ino(m + "/c.mp3"), before);
  EXPECT_EQ(Renamed(m + "/c.mp3", m + "/b.mp3", RENAME_NOREPLACE), EEXIST);
  EXPECT_EQ(Linked(m + "/c.mp3", m + "/d.mp3"), 0);
  EXPECT_FALSE(Exists(m + "/C.MP3"));
  EXPECT_TRUE(fs.Unmount());
  EXPECT_FALSE(fs.Mounted());
}

// The caller's own folders, named relatively and with a space, mount and
// unmount the same.
TEST(TestFs, MountsOverTheCallersFolders) {
  char tmpl[] = "/tmp/tavoly-own-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  ASSERT_EQ(mkdir((dir + "/music in").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir + "/music out").c_str(), 0755), 0);
  ASSERT_TRUE(Put(dir + "/music in/a.mp3", "A"));
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  {
    auto fs = TestFs::Ours("", "music in", "./music out");
    EXPECT_EQ(chdir(cwd), 0);
    if (fs.Mounted()) {
      EXPECT_EQ(Get(dir + "/music out/a.mp3"), "A");
      EXPECT_TRUE(fs.Unmount());
      EXPECT_FALSE(Exists(dir + "/music out/a.mp3"));
    }
  }
  EXPECT_EQ(chdir(cwd), 0);
  EXPECT_TRUE(Exists(dir + "/music in/a.mp3"));
  tavoly_test::testfs_detail::RemoveTree(dir);
  EXPECT_FALSE(Exists(dir));
}

TEST(TestFs, NoRenameFlagsRefusesEveryFlagButRenamesPlainly) {
  auto fs = TestFs::Ours("norenameflags");
  MOUNT_OR_SKIP(fs);
  std::string m = fs.Path();
  ASSERT_TRUE(Put(m + "/a.mp3", "A"));
  ASSERT_TRUE(Put(m + "/b.mp3", "B"));
  EXPECT_EQ(Renamed(m + "/a.mp3", m + "/free.mp3", RENAME_NOREPLACE), EINVAL);
  EXPECT_EQ(Renamed(m + "/a.mp3", m + "/b.mp3", RENAME_EXCHANGE), EINVAL);
  // The kernel itself answers EEXIST for a flagged rename onto a name it sees.
  EXPECT_EQ(Renamed(m + "/a.mp3", m + "/b.mp3", RENAME_NOREPLACE), EEXIST);
  EXPECT_EQ(Renamed(m + "/a.mp3", m + "/b.mp3", 0), 0);
  EXPECT_EQ(Get(fs.Backing() + "/b.mp3"), "A");
  EXPECT_FALSE(Exists(fs.Backing() + "/a.mp3"));
}

TEST(TestFs, NoLinksRefusesHardLinks) {
  auto fs = TestFs::Ours("nolinks");
  MOUNT_OR_SKIP(fs);
  ASSERT_TRUE(Put(fs.Path() + "/a.mp3", "A"));
  EXPECT_EQ(Linked(fs.Path() + "/a.mp3", fs.Path() + "/b.mp3"), EPERM);
  EXPECT_FALSE(Exists(fs.Backing() + "/b.mp3"));
}

TEST(TestFs, CaselessFoldsNamesOntoTheEntryThere) {
  auto fs = TestFs::Ours("caseless");
  MOUNT_OR_SKIP(fs);
  std::string m = fs.Path();
  std::string b = fs.Backing();
  ASSERT_TRUE(Put(m + "/Song.mp3", "S"));
  EXPECT_EQ(Get(m + "/SONG.MP3"), "S");
  int fd = open((m + "/song.MP3").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  EXPECT_EQ(fd < 0 ? errno : 0, EEXIST);
  if (fd >= 0) close(fd);
  // A rename to another case of its own name changes the case.
  EXPECT_EQ(Renamed(m + "/Song.mp3", m + "/song.mp3", 0), 0);
  EXPECT_TRUE(Exists(b + "/song.mp3"));
  EXPECT_FALSE(Exists(b + "/Song.mp3"));
  // A rename onto another file's case variant replaces that file, and the
  // name takes the new spelling; with NOREPLACE it is refused.
  ASSERT_TRUE(Put(m + "/other.mp3", "O"));
  EXPECT_EQ(Renamed(m + "/other.mp3", m + "/SONG.mp3", RENAME_NOREPLACE), EEXIST);
  EXPECT_EQ(Renamed(m + "/other.mp3", m + "/SONG.mp3", 0), 0);
  EXPECT_EQ(Get(b + "/SONG.mp3"), "O");
  EXPECT_FALSE(Exists(b + "/song.mp3"));
  EXPECT_FALSE(Exists(b + "/other.mp3"));
  // Folders fold too.
  ASSERT_EQ(mkdir((b + "/Album").c_str(), 0755), 0);
  ASSERT_TRUE(Put(m + "/ALBUM/t.mp3", "T"));
  EXPECT_EQ(Get(b + "/Album/t.mp3"), "T");
}

TEST(TestFs, UnstableInodesRenumberARenamedFile) {
  auto fs = TestFs::Ours("unstableinodes");
  MOUNT_OR_SKIP(fs);
  std::string m = fs.Path();
  ASSERT_TRUE(Put(m + "/a.mp3", "A"));
  ASSERT_TRUE(Put(m + "/still.mp3", "S"));
  ino_t a = Ino(m + "/a.mp3");
  ino_t still = Ino(m + "/still.mp3");
  ASSERT_EQ(Renamed(m + "/a.mp3", m + "/b.mp3", 0), 0);
  ino_t b = Ino(m + "/b.mp3");
  EXPECT_NE(b, 0u);
  EXPECT_NE(b, a);
  EXPECT_EQ(Ino(m + "/still.mp3"), still);
  ASSERT_EQ(Renamed(m + "/b.mp3", m + "/a.mp3", 0), 0);
  EXPECT_NE(Ino(m + "/a.mp3"), b);
  EXPECT_NE(Ino(m + "/a.mp3"), a);
}

TEST(TestFs, LatencyDelaysEveryCall) {
  auto fs = TestFs::Ours("latency_us=30000");
  MOUNT_OR_SKIP(fs);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Exists(fs.Path() + "/none.mp3"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(TestFs, FailAfterAnswersEioFromThenOn) {
  auto fs = TestFs::Ours("fail_after=40");
  MOUNT_OR_SKIP(fs);
  int made = 0;
  int err = 0;
  for (; made < 40 && err == 0; ++made) {
    int fd = open((fs.Path() + "/f" + std::to_string(made)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    err = fd < 0 ? errno : 0;
    if (fd >= 0) close(fd);
  }
  EXPECT_EQ(err, EIO);
  EXPECT_GT(made, 1);
  struct stat st;
  EXPECT_NE(stat(fs.Path().c_str(), &st), 0);
  EXPECT_EQ(errno, EIO);
  EXPECT_TRUE(fs.Alive());
  EXPECT_TRUE(fs.Unmount());
}

// A crash at the chosen call: before it did anything, or after it did its
// work but before it answered. Either way the client sees the connection
// gone, and the mount still unmounts.
TEST(TestFs, KillOpEndsTheFileSystemAtThatCall) {
  for (const char* when : {"", ",kill_done"}) {
    SCOPED_TRACE(when);
    auto fs = TestFs::Ours(std::string("kill_op=rename,kill_at=2") + when);
    MOUNT_OR_SKIP(fs);
    std::string m = fs.Path();
    ASSERT_TRUE(Put(m + "/a.mp3", "A"));
    ASSERT_EQ(Renamed(m + "/a.mp3", m + "/b.mp3", 0), 0);
    int err = Renamed(m + "/b.mp3", m + "/c.mp3", 0);
    EXPECT_TRUE(err == ECONNABORTED || err == ENOTCONN) << strerror(err);
    EXPECT_EQ(Exists(fs.Backing() + "/c.mp3"), *when != '\0');
    struct stat st;
    EXPECT_NE(stat((m + "/b.mp3").c_str(), &st), 0);
    EXPECT_EQ(errno, ENOTCONN);
    // The client may hear of the crash before the process is quite gone.
    for (int i = 0; i < 200 && fs.Alive(); ++i) usleep(10000);
    EXPECT_FALSE(fs.Alive());
    EXPECT_TRUE(fs.Unmount());
  }
}

// Each real file system this machine has mounts, takes a file, renames it
// and unmounts.
class TestFsReal : public ::testing::TestWithParam<const char*> {};

TEST_P(TestFsReal, MountsWritesRenamesAndUnmounts) {
  std::string kind = GetParam();
  auto fs = kind == "exfat" ? TestFs::ExFat()
            : kind == "fat" ? TestFs::Fat()
            : kind == "ntfs" ? TestFs::Ntfs()
                             : TestFs::Sshfs();
  MOUNT_OR_SKIP(fs);
  std::string m = fs.Path();
  ASSERT_EQ(mkdir((m + "/Album").c_str(), 0755), 0);
  ASSERT_TRUE(Put(m + "/Album/01 track.mp3", "ID3 music"));
  ASSERT_EQ(Renamed(m + "/Album/01 track.mp3", m + "/Album/01 - Artist - Title.mp3", 0), 0);
  EXPECT_FALSE(Exists(m + "/Album/01 track.mp3"));
  EXPECT_EQ(Get(m + "/Album/01 - Artist - Title.mp3"), "ID3 music");
  if (!fs.Backing().empty()) {
    EXPECT_EQ(Get(fs.Backing() + "/Album/01 - Artist - Title.mp3"), "ID3 music");
  }
  std::string path = fs.Path();
  EXPECT_TRUE(fs.Unmount());
  EXPECT_FALSE(tavoly_test::testfs_detail::Listed(path));
}

INSTANTIATE_TEST_SUITE_P(, TestFsReal, ::testing::Values("exfat", "fat", "ntfs", "sshfs"),
                         [](const ::testing::TestParamInfo<const char*>& p) { return std::string(p.param); });
