// SPDX-License-Identifier: GPL-3.0-or-later
// Mounts file systems for tests: our tavoly_testfs with chosen switches, or
// the real FUSE ones (exFAT, FAT, NTFS over images, sshfs to a local sshd).
// Each object owns its mount and a scratch folder, and unmounts and removes
// them when it goes, also when a test fails half way. Where this machine
// cannot mount (no /dev/fuse, no tool, not root), Mounted() is false and
// Reason() says why, for GTEST_SKIP().
//
//   auto fs = tavoly_test::TestFs::Ours("caseless,nolinks");
//   if (!fs.Mounted()) GTEST_SKIP() << fs.Reason();
//   std::string file = fs.Path() + "/a.mp3";   // through the mount
//   std::string truth = fs.Backing() + "/a.mp3"; // what really lies beneath
#pragma once

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tavoly_test {

namespace testfs_detail {

inline void SleepMs(long ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

inline bool IsExecutable(const std::string& p) { return access(p.c_str(), X_OK) == 0; }

// Finds a program on PATH or in the sbin folders a plain user's PATH lacks.
inline std::string Which(const std::string& name) {
  const char* env = getenv("PATH");
  std::string path = std::string(env != nullptr ? env : "/usr/bin:/bin") +
                     ":/usr/local/sbin:/usr/sbin:/sbin";
  std::stringstream ss(path);
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    if (!dir.empty() && IsExecutable(dir + "/" + name)) return dir + "/" + name;
  }
  return "";
}

// Starts argv with stdin from /dev/null and both outputs appended to log.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& log) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    // Should the test die, our file system unmounts itself and sshd ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    int in = open("/dev/null", O_RDONLY);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// Waits up to ms for the child; SIGKILL after that. Returns the exit code,
// or -1 when it had to be killed or died by a signal.
inline int Reap(pid_t pid, long ms) {
  int status = 0;
  for (long waited = 0;; waited += 10) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r == -1) return -1;
    if (waited >= ms) break;
    SleepMs(10);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

inline std::string ReadAll(const std::string& file) {
  std::ifstream in(file);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs a program to its end (at most ms); out gets what it printed. The log
// is a file, not a pipe: a mount tool's daemon keeps its outputs open.
inline int Run(const std::vector<std::string>& argv, const std::string& log, std::string* out,
               long ms = 30000) {
  if (truncate(log.c_str(), 0) != 0 && errno != ENOENT) return -1;
  int rc = Reap(Spawn(argv, log), ms);
  if (out != nullptr) *out = ReadAll(log);
  return rc;
}

inline std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// A mount is live when its root lies on another device than its parent.
inline bool Live(const std::string& mnt) {
  struct stat a;
  struct stat b;
  return stat(mnt.c_str(), &a) == 0 && stat((mnt + "/..").c_str(), &b) == 0 && a.st_dev != b.st_dev;
}

// Listed in the mount table, live or not (a dead FUSE mount still is).
inline bool Listed(const std::string& mnt) {
  std::ifstream in("/proc/self/mounts");
  std::string dev;
  std::string point;
  std::string rest;
  while (in >> dev >> point && std::getline(in, rest)) {
    // The table writes a space, tab, newline or backslash as \ooo.
    std::string plain;
    for (size_t i = 0; i < point.size(); ++i) {
      if (point[i] == '\\' && i + 3 < point.size()) {
        plain += static_cast<char>((point[i + 1] - '0') * 64 + (point[i + 2] - '0') * 8 + (point[i + 3] - '0'));
        i += 3;
      } else {
        plain += point[i];
      }
    }
    if (plain == mnt) return true;
  }
  return false;
}

inline void RemoveTree(const std::string& dir) {
  // FTW_MOUNT: never into a mount that is somehow still there.
  (void)nftw(
      dir.c_str(),
      [](const char* p, const struct stat*, int, FTW*) {
        (void)remove(p);  // what cannot go stays; the rest still goes
        return 0;
      },
      16,
      FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

inline int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

inline bool Accepts(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

}  // namespace testfs_detail

class TestFs {
 public:
#ifdef TAVOLY_TESTFS
  static constexpr const char* kProgram = TAVOLY_TESTFS;
#else
  static constexpr const char* kProgram = "";
#endif

  // Our test file system over a fresh backing folder, with switches as
  // tavoly_testfs takes them after -o ("caseless,latency_us=500"; "" for a
  // plain passthrough).
  static TestFs Ours(const std::string& switches) { return TestFs(Kind::Ours, switches, "", ""); }
  // The same over a backing folder and at a mount point of the caller's.
  static TestFs Ours(const std::string& switches, const std::string& backing,
                     const std::string& mountPoint) {
    return TestFs(Kind::Ours, switches, backing, mountPoint);
  }
  // exFAT through exfat-fuse, over a 64 MiB image on a loop device (root).
  static TestFs ExFat() { return TestFs(Kind::ExFat, "", "", ""); }
  // FAT16 through fusefat, over a 64 MiB image.
  static TestFs Fat() { return TestFs(Kind::Fat, "", "", ""); }
  // NTFS through ntfs-3g, over a 64 MiB image.
  static TestFs Ntfs() { return TestFs(Kind::Ntfs, "", "", ""); }
  // sshfs to an sshd of the test's own on 127.0.0.1, serving Backing().
  static TestFs Sshfs() { return TestFs(Kind::Sshfs, "", "", ""); }

  TestFs(const TestFs&) = delete;
  TestFs& operator=(const TestFs&) = delete;
  ~TestFs() { Unmount(); }

  bool Mounted() const { return mounted_; }
  const std::string& Reason() const { return reason_; }
  // The mount point: the files as the file system shows them.
  const std::string& Path() const { return mnt_; }
  // Ours and sshfs: the folder the mount shows; "" over an image.
  const std::string& Backing() const { return backing_; }
  // Ours: its process still runs (false after a kill switch fired).
  bool Alive() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

  // Unmounts (also a dead mount), stops what was started for it and removes
  // the scratch folder. True when nothing is left mounted. Also done when
  // the object goes.
  bool Unmount() {
    namespace d = testfs_detail;
    bool clean = true;
    if (!mnt_.empty() && d::Listed(mnt_)) {
      clean = false;
      for (int i = 0; i < 100 && !clean; ++i) {
        clean = Detach(false);
        if (!clean) d::SleepMs(50);
      }
      if (!clean) clean = Detach(true);
    }
    if (pid_ > 0) {
      (void)d::Reap(pid_, 5000);  // exits once unmounted; killed if not
      pid_ = -1;
    }
    if (sshd_ > 0) {
      kill(sshd_, SIGTERM);
      d::Reap(sshd_, 5000);
      sshd_ = -1;
    }
    if (!loop_.empty()) {
      std::string out;
      // The FUSE daemon may still hold the device for a moment after umount.
      for (int i = 0; i < 50; ++i) {
        if (d::Run({d::Which("losetup"), "-d", loop_}, scratch_ + "/losetup.log", &out) == 0) break;
        d::SleepMs(50);
      }
      loop_.clear();
    }
    mounted_ = false;
    if (clean && !scratch_.empty()) {
      d::RemoveTree(scratch_);
      scratch_.clear();
    }
    return clean;
  }

 private:
  enum class Kind { Ours, ExFat, Fat, Ntfs, Sshfs };

  TestFs(Kind kind, const std::string& switches, const std::string& backing,
         const std::string& mountPoint) {
    namespace d = testfs_detail;
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
      reason_ = std::string("no usable /dev/fuse (") + strerror(errno) +
                "): FUSE needs the device, root or a fuse group, outside a bare container";
      return;
    }
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tavoly-fs-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
      reason_ = std::string("no scratch folder: ") + strerror(errno);
      return;
    }
    scratch_ = Absolute(buf.data());
    backing_ = backing.empty() ? scratch_ + "/backing" : Absolute(backing);
    mnt_ = mountPoint.empty() ? scratch_ + "/mnt" : Absolute(mountPoint);
    if (backing.empty()) mkdir(backing_.c_str(), 0755);
    if (mountPoint.empty()) mkdir(mnt_.c_str(), 0755);
    switch (kind) {
      case Kind::Ours: MountOurs(switches); break;
      case Kind::ExFat: MountExFat(); break;
      case Kind::Fat: MountImage("FAT", "mkfs.vfat", "dosfstools", "fusefat", "fusefat", {"-o", "rw+"}); break;
      case Kind::Ntfs: MountImage("NTFS", "mkntfs", "ntfs-3g", "ntfs-3g", "ntfs-3g", {}); break;
      case Kind::Sshfs: MountSshfs(); break;
    }
    if (!mounted_) {
      std::string why = reason_;
      Unmount();
      reason_ = why;
    }
  }

  // The mount table names mount points by their real, absolute path.
  static std::string Absolute(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string out = real;
    free(real);
    return out;
  }

  bool Need(const std::string& what, const std::string& tool, const std::string& package,
            std::string* path) {
    *path = testfs_detail::Which(tool);
    if (path->empty()) reason_ = what + ": " + tool + " not found (Debian package " + package + ")";
    return !path->empty();
  }

  // Waits for the mount to go live; pid, when given, must stay alive meanwhile.
  bool WaitLive(const std::string& what, pid_t pid, const std::string& log) {
    namespace d = testfs_detail;
    for (int waited = 0; waited < 10000; waited += 10) {
      if (d::Live(mnt_)) {
        mounted_ = true;
        return true;
      }
      if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid) {
        if (pid == pid_) pid_ = -1;
        reason_ = what + " did not mount: " + d::Trim(d::ReadAll(log));
        return false;
      }
      d::SleepMs(10);
    }
    reason_ = what + " did not mount within 10 s: " + d::Trim(d::ReadAll(log));
    return false;
  }

  void MountOurs(const std::string& switches) {
    if (*kProgram == '\0' || !testfs_detail::IsExecutable(kProgram)) {
      reason_ = "tavoly_testfs is not built (libfuse3-dev missing at configure time?)";
      return;
    }
    std::vector<std::string> argv{kProgram};
    if (!switches.empty()) argv.insert(argv.end(), {"-o", switches});
    argv.insert(argv.end(), {backing_, mnt_, "-f"});
    std::string log = scratch_ + "/testfs.log";
    pid_ = testfs_detail::Spawn(argv, log);
    WaitLive("tavoly_testfs", pid_, log);
  }

  // Makes a file system in a 64 MiB image; false with the reason otherwise.
  bool MakeImage(const std::string& what, const std::string& mkfs, const std::string& package,
                 const std::vector<std::string>& mkfsArgs) {
    namespace d = testfs_detail;
    std::string tool;
    if (!Need(what, mkfs, package, &tool)) return false;
    image_ = scratch_ + "/image";
    int fd = open(image_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    bool sized = fd >= 0 && ftruncate(fd, 64L << 20) == 0;
    if (fd >= 0) close(fd);
    if (!sized) {
      reason_ = what + ": cannot make an image file: " + strerror(errno);
      return false;
    }
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), mkfsArgs.begin(), mkfsArgs.end());
    argv.push_back(image_);
    std::string out;
    if (d::Run(argv, scratch_ + "/mkfs.log", &out) != 0) {
      reason_ = what + ": " + mkfs + " failed: " + d::Trim(out);
      return false;
    }
    backing_.clear();
    return true;
  }

  void MountImage(const std::string& what, const std::string& mkfs, const std::string& mkfsPackage,
                  const std::string& mounter, const std::string& package,
                  const std::vector<std::string>& options) {
    namespace d = testfs_detail;
    std::string tool;
    if (!Need(what, mounter, package, &tool)) return;
    if (!MakeImage(what, mkfs, mkfsPackage, mkfs == "mkntfs" ? std::vector<std::string>{"-F", "-f", "-q"}
                                                             : std::vector<std::string>{}))
      return;
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {image_, mnt_});
    std::string log = scratch_ + "/mount.log";
    std::string out;
    if (d::Run(argv, log, &out) != 0) {
      reason_ = what + ": " + mounter + " failed: " + d::Trim(out);
      return;
    }
    WaitLive(what, -1, log);
  }

  // exfat-fuse wants a block device ("-o loop" is refused), hence losetup.
  void MountExFat() {
    namespace d = testfs_detail;
    std::string mounter;
    std::string losetup;
    if (!Need("exFAT", "mount.exfat-fuse", "exfat-fuse", &mounter)) return;
    if (!Need("exFAT", "losetup", "mount", &losetup)) return;
    if (getuid() != 0) {
      reason_ = "exFAT: a loop device needs root";
      return;
    }
    if (!MakeImage("exFAT", "mkfs.exfat", "exfatprogs", {})) return;
    std::string out;
    if (d::Run({losetup, "-f", "--show", image_}, scratch_ + "/losetup.log", &out) != 0) {
      reason_ = "exFAT: no loop device: " + d::Trim(out);
      return;
    }
    loop_ = d::Trim(out);
    std::string log = scratch_ + "/mount.log";
    if (d::Run({mounter, loop_, mnt_}, log, &out) != 0) {
      reason_ = "exFAT: mount.exfat-fuse failed: " + d::Trim(out);
      return;
    }
    WaitLive("exFAT", -1, log);
  }

  void MountSshfs() {
    namespace d = testfs_detail;
    std::string sshd;
    std::string sshfs;
    std::string keygen;
    std::string ssh;
    if (!Need("sshfs", "sshd", "openssh-server", &sshd) || !Need("sshfs", "sshfs", "sshfs", &sshfs) ||
        !Need("sshfs", "ssh", "openssh-client", &ssh) ||
        !Need("sshfs", "ssh-keygen", "openssh-client", &keygen))
      return;
    // sshd refuses to start without its privilege separation folder.
    if (getuid() == 0) mkdir("/run/sshd", 0755);
    std::string dir = scratch_ + "/ssh";
    mkdir(dir.c_str(), 0700);
    std::string out;
    for (const char* key : {"host", "client"}) {
      if (d::Run({keygen, "-q", "-t", "ed25519", "-N", "", "-f", dir + "/" + key}, dir + "/keygen.log",
                 &out) != 0) {
        reason_ = "sshfs: ssh-keygen failed: " + d::Trim(out);
        return;
      }
    }
    int port = d::FreePort();
    passwd* pw = getpwuid(getuid());
    if (port < 0 || pw == nullptr) {
      reason_ = "sshfs: no free local port or no user name";
      return;
    }
    {
      std::ofstream(dir + "/authorized_keys") << d::ReadAll(dir + "/client.pub");
      // Root may log in, by key only, to this sshd alone.
      std::ofstream cfg(dir + "/sshd_config");
      cfg << "ListenAddress 127.0.0.1\nPort " << port << "\nHostKey " << dir << "/host\n"
          << "AuthorizedKeysFile " << dir << "/authorized_keys\nPidFile none\n"
          << "PermitRootLogin prohibit-password\nPasswordAuthentication no\n"
          << "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\n"
          << "Subsystem sftp internal-sftp\n";
      std::ofstream(dir + "/ssh_config") << "";
    }
    sshd_ = d::Spawn({sshd, "-D", "-e", "-f", dir + "/sshd_config"}, dir + "/sshd.log");
    bool up = false;
    for (int waited = 0; waited < 10000 && !up; waited += 20) {
      up = d::Accepts(port);
      if (!up && waitpid(sshd_, nullptr, WNOHANG) == sshd_) {
        sshd_ = -1;
        break;
      }
      if (!up) d::SleepMs(20);
    }
    if (!up) {
      reason_ = "sshfs: sshd did not start: " + d::Trim(d::ReadAll(dir + "/sshd.log"));
      return;
    }
    std::string log = scratch_ + "/mount.log";
    std::vector<std::string> argv{sshfs, "-F", dir + "/ssh_config", "-p", std::to_string(port), "-o",
                                  "IdentityFile=" + dir + "/client,StrictHostKeyChecking=no,"
                                  "UserKnownHostsFile=/dev/null,BatchMode=yes,ConnectTimeout=10",
                                  std::string(pw->pw_name) + "@127.0.0.1:" + backing_, mnt_};
    if (d::Run(argv, log, &out) != 0) {
      reason_ = "sshfs failed: " + d::Trim(out) + " / sshd: " + d::Trim(d::ReadAll(dir + "/sshd.log"));
      return;
    }
    WaitLive("sshfs", -1, log);
  }

  // One try to unmount; lazy detaches even a busy mount.
  bool Detach(bool lazy) {
    namespace d = testfs_detail;
    if (getuid() == 0) {
      if (umount2(mnt_.c_str(), lazy ? MNT_DETACH : 0) != 0 && errno != EINVAL) return false;
    } else {
      std::string tool = d::Which("fusermount3");
      if (tool.empty()) tool = d::Which("fusermount");
      std::vector<std::string> argv{tool, lazy ? "-uz" : "-u", mnt_};
      if (tool.empty() || d::Run(argv, scratch_ + "/umount.log", nullptr) != 0) return false;
    }
    return !d::Listed(mnt_);
  }

  bool mounted_ = false;
  std::string reason_;
  std::string scratch_;
  std::string backing_;
  std::string mnt_;
  std::string image_;
  std::string loop_;
  pid_t pid_ = -1;
  pid_t sshd_ = -1;
};

}  // namespace tavoly_test
