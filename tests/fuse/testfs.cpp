// SPDX-License-Identifier: GPL-3.0-or-later
// tavoly_testfs: a passthrough FUSE file system over a backing folder that
// can be told to behave like the places music lives (FAT sticks, phones,
// shares), so the engine's moves can be tested there without the hardware.
//
//   tavoly_testfs [-o SWITCHES] BACKING MOUNTPOINT [-f] [fuse options]
//
// Switches (comma separated after -o):
//   norenameflags    a rename with any flag answers EINVAL; a plain one replaces
//   nolinks          link answers EPERM
//   caseless         names match whatever their ASCII case (bytes above 0x7f
//                    are compared as they are)
//   unstableinodes   a file's inode number changes each time it is renamed
//   latency_us=N     every operation sleeps N microseconds first
//   fail_after=N     every operation after the Nth answers EIO
//   kill_op=NAME     the process dies at the kill_at-th (default 1st) call of
//   kill_at=N        operation NAME (rename, link, create, write, unlink, ...),
//   kill_done        before doing it, or with kill_done after doing it but
//                    before answering. The client then sees the connection
//                    gone (ECONNABORTED, then ENOTCONN) until it is unmounted.
//   count_file=PATH  at unmount, writes how many of each operation reached
//                    this program ("getattr 812" a line; a lookup is a
//                    getattr); release, which nobody waits for, is left out
//   threads          serves calls side by side, as a share with requests in
//                    flight does (their latencies overlap); the order of
//                    calls is then the client's and the kernel's
//
// Runs single-threaded unless told otherwise, with every cache timeout 0, so
// that what a test sees is what this program answered, in the same order on
// every run.
#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Switches {
  int noRenameFlags = 0;
  int noLinks = 0;
  int caseless = 0;
  int unstableInodes = 0;
  unsigned latencyUs = 0;
  long failAfter = -1;
  char* killOp = nullptr;
  long killAt = 1;
  int killDone = 0;
  char* countFile = nullptr;
  int threads = 0;
};

Switches g_sw;
std::string g_backing;  // "" for "/"
bool g_haveBacking = false;
long g_ops = 0;
long g_killCalls = 0;
std::map<std::string, long> g_counts;  // by operation, with count_file
// Renames each backing inode has had, for unstableinodes.
std::map<ino_t, std::uint64_t> g_renames;
// Guards the counts and g_renames when calls are served side by side.
std::mutex g_state;

#define SWITCH(t, p, v) {t, offsetof(Switches, p), v}
const fuse_opt kOpts[] = {
    SWITCH("norenameflags", noRenameFlags, 1),
    SWITCH("nolinks", noLinks, 1),
    SWITCH("caseless", caseless, 1),
    SWITCH("unstableinodes", unstableInodes, 1),
    SWITCH("latency_us=%u", latencyUs, 0),
    SWITCH("fail_after=%ld", failAfter, 0),
    SWITCH("kill_op=%s", killOp, 0),
    SWITCH("kill_at=%ld", killAt, 0),
    SWITCH("kill_done", killDone, 1),
    SWITCH("count_file=%s", countFile, 0),
    SWITCH("threads", threads, 1),
    FUSE_OPT_END};

// Every operation passes here first: latency, the EIO budget, the kill.
int Gate(const char* op) {
  if (g_sw.latencyUs > 0) usleep(g_sw.latencyUs);
  std::lock_guard<std::mutex> lock(g_state);
  ++g_ops;
  if (g_sw.countFile != nullptr) ++g_counts[op];
  if (g_sw.killOp != nullptr && strcmp(op, g_sw.killOp) == 0 && ++g_killCalls == g_sw.killAt &&
      !g_sw.killDone) {
    _exit(3);
  }
  if (g_sw.failAfter >= 0 && g_ops > g_sw.failAfter) return -EIO;
  return 0;
}

// Called when an operation's work is done, before it answers.
void Done(const char* op) {
  if (g_sw.killDone && g_sw.killOp != nullptr && strcmp(op, g_sw.killOp) == 0 &&
      g_killCalls == g_sw.killAt) {
    _exit(3);
  }
}

int Err(int rc) { return rc == -1 ? -errno : 0; }

std::string Parent(const std::string& p) { return p.substr(0, p.rfind('/')); }
std::string Base(const std::string& p) { return p.substr(p.rfind('/') + 1); }

// The backing path for a path as the client spells it. Caseless, each part
// takes the existing entry that matches it whatever its case; a part that
// matches nothing keeps its spelling.
std::string Real(const char* path) {
  std::string out = g_backing;
  std::string rest = path;
  size_t pos = 0;
  while (pos < rest.size()) {
    size_t end = rest.find('/', pos);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    std::string exact = out + "/" + part;
    struct stat st;
    if (!g_sw.caseless || lstat(exact.c_str(), &st) == 0) {
      out = exact;
      continue;
    }
    std::string found = exact;
    if (DIR* d = opendir(out.c_str())) {
      while (dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, part.c_str()) == 0) {  // C locale: ASCII only
          found = out + "/" + e->d_name;
          break;
        }
      }
      closedir(d);
    }
    out = found;
  }
  return out;
}

void Present(struct stat* st) {
  if (!g_sw.unstableInodes) return;
  std::lock_guard<std::mutex> lock(g_state);
  auto it = g_renames.find(st->st_ino);
  if (it != g_renames.end()) st->st_ino += it->second << 40;
}

void Destroy(void*) {
  if (g_sw.countFile == nullptr) return;
  if (FILE* out = fopen(g_sw.countFile, "w")) {
    for (const auto& [op, count] : g_counts) fprintf(out, "%s %ld\n", op.c_str(), count);
    fclose(out);
  }
}

void* Init(fuse_conn_info*, fuse_config* cfg) {
  cfg->use_ino = 1;
  cfg->entry_timeout = 0;
  cfg->attr_timeout = 0;
  cfg->negative_timeout = 0;
  cfg->hard_remove = 1;
  cfg->nullpath_ok = 0;   // every call gets its path: Real() needs one
  return nullptr;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info* fi) {
  if (int rc = Gate("getattr")) return rc;
  int rc = fi != nullptr ? fstat(static_cast<int>(fi->fh), st) : lstat(Real(path).c_str(), st);
  if (rc == 0) Present(st);
  Done("getattr");
  return Err(rc);
}

int Access(const char* path, int mask) {
  if (int rc = Gate("access")) return rc;
  return Err(access(Real(path).c_str(), mask));
}

int ReadLink(const char* path, char* buf, size_t size) {
  if (int rc = Gate("readlink")) return rc;
  ssize_t n = readlink(Real(path).c_str(), buf, size - 1);
  if (n == -1) return -errno;
  buf[n] = '\0';
  return 0;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  if (int rc = Gate("readdir")) return rc;
  DIR* d = opendir(Real(path).c_str());
  if (d == nullptr) return -errno;
  while (dirent* e = readdir(d)) {
    struct stat st{};
    st.st_ino = e->d_ino;
    st.st_mode = static_cast<mode_t>(e->d_type << 12);
    Present(&st);
    if (fill(buf, e->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0))) break;
  }
  closedir(d);
  return 0;
}

int MkDir(const char* path, mode_t mode) {
  if (int rc = Gate("mkdir")) return rc;
  int rc = Err(mkdir(Real(path).c_str(), mode));
  Done("mkdir");
  return rc;
}

int Unlink(const char* path) {
  if (int rc = Gate("unlink")) return rc;
  int rc = Err(unlink(Real(path).c_str()));
  Done("unlink");
  return rc;
}

int RmDir(const char* path) {
  if (int rc = Gate("rmdir")) return rc;
  return Err(rmdir(Real(path).c_str()));
}

int SymLink(const char* target, const char* path) {
  if (int rc = Gate("symlink")) return rc;
  return Err(symlink(target, Real(path).c_str()));
}

int DoRename(const char* from, const char* to, unsigned flags) {
  std::string src = Real(from);
  std::string dst = Real(to);
  struct stat s;
  if (lstat(src.c_str(), &s) != 0) return -errno;
  if (g_sw.caseless) {
    // The new name takes the spelling the client gave, as FAT does.
    std::string spelled = Parent(dst) + "/" + Base(to);
    struct stat d;
    bool exists = lstat(dst.c_str(), &d) == 0;
    bool self = exists && d.st_ino == s.st_ino && d.st_dev == s.st_dev;
    if (exists && !self && (flags & RENAME_NOREPLACE) != 0) return -EEXIST;
    if (exists && !self && (flags & RENAME_EXCHANGE) != 0)
      return Err(renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_EXCHANGE));
    if (self) return src == spelled ? 0 : Err(rename(src.c_str(), spelled.c_str()));
    if (exists && rename(src.c_str(), dst.c_str()) != 0) return -errno;
    return Err(rename(exists ? dst.c_str() : src.c_str(), spelled.c_str()));
  }
  return Err(renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), flags));
}

int Rename(const char* from, const char* to, unsigned flags) {
  if (int rc = Gate("rename")) return rc;
  if (g_sw.noRenameFlags && flags != 0) return -EINVAL;
  struct stat s;
  bool known = lstat(Real(from).c_str(), &s) == 0;
  int rc = DoRename(from, to, flags);
  if (rc == 0 && known) {
    std::lock_guard<std::mutex> lock(g_state);
    ++g_renames[s.st_ino];
  }
  Done("rename");
  return rc;
}

int Link(const char* from, const char* to) {
  if (int rc = Gate("link")) return rc;
  if (g_sw.noLinks) return -EPERM;
  int rc = Err(link(Real(from).c_str(), Real(to).c_str()));
  Done("link");
  return rc;
}

int ChMod(const char* path, mode_t mode, fuse_file_info* fi) {
  if (int rc = Gate("chmod")) return rc;
  if (fi != nullptr) return Err(fchmod(static_cast<int>(fi->fh), mode));
  return Err(chmod(Real(path).c_str(), mode));
}

int ChOwn(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
  if (int rc = Gate("chown")) return rc;
  if (fi != nullptr) return Err(fchown(static_cast<int>(fi->fh), uid, gid));
  return Err(lchown(Real(path).c_str(), uid, gid));
}

int Truncate(const char* path, off_t size, fuse_file_info* fi) {
  if (int rc = Gate("truncate")) return rc;
  if (fi != nullptr) return Err(ftruncate(static_cast<int>(fi->fh), size));
  return Err(truncate(Real(path).c_str(), size));
}

int UTimeNs(const char* path, const struct timespec tv[2], fuse_file_info* fi) {
  if (int rc = Gate("utimens")) return rc;
  if (fi != nullptr) return Err(futimens(static_cast<int>(fi->fh), tv));
  return Err(utimensat(AT_FDCWD, Real(path).c_str(), tv, AT_SYMLINK_NOFOLLOW));
}

int Create(const char* path, mode_t mode, fuse_file_info* fi) {
  if (int rc = Gate("create")) return rc;
  int fd = open(Real(path).c_str(), fi->flags, mode);
  if (fd == -1) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  Done("create");
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if (int rc = Gate("open")) return rc;
  int fd = open(Real(path).c_str(), fi->flags);
  if (fd == -1) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}

int Read(const char*, char* buf, size_t size, off_t off, fuse_file_info* fi) {
  if (int rc = Gate("read")) return rc;
  ssize_t n = pread(static_cast<int>(fi->fh), buf, size, off);
  return n == -1 ? -errno : static_cast<int>(n);
}

int Write(const char*, const char* buf, size_t size, off_t off, fuse_file_info* fi) {
  if (int rc = Gate("write")) return rc;
  ssize_t n = pwrite(static_cast<int>(fi->fh), buf, size, off);
  Done("write");
  return n == -1 ? -errno : static_cast<int>(n);
}

int StatFs(const char*, struct statvfs* st) {
  if (int rc = Gate("statfs")) return rc;
  return Err(statvfs(g_backing.c_str(), st));
}

int Release(const char*, fuse_file_info* fi) {
  // No gate: the kernel does not wait for this answer, and a file must
  // always be closed.
  close(static_cast<int>(fi->fh));
  return 0;
}

int FSync(const char*, int dataOnly, fuse_file_info* fi) {
  if (int rc = Gate("fsync")) return rc;
  int fd = static_cast<int>(fi->fh);
  return Err(dataOnly ? fdatasync(fd) : fsync(fd));
}

int TakeBacking(void*, const char* arg, int key, fuse_args*) {
  if (key == FUSE_OPT_KEY_NONOPT && !g_haveBacking) {
    char* real = realpath(arg, nullptr);
    if (real == nullptr) {
      fprintf(stderr, "tavoly_testfs: %s: %s\n", arg, strerror(errno));
      return -1;
    }
    g_backing = real;
    free(real);
    if (g_backing == "/") g_backing.clear();
    g_haveBacking = true;
    return 0;
  }
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  fuse_args args = FUSE_ARGS_INIT(argc, argv);
  if (fuse_opt_parse(&args, &g_sw, kOpts, TakeBacking) == -1) return 1;
  if (!g_haveBacking) {
    fprintf(stderr, "usage: %s [-o switches] BACKING MOUNTPOINT [-f]\n", argv[0]);
    return 1;
  }
  // One thread: the counts and the caseless renames stay in one order.
  if (!g_sw.threads) fuse_opt_add_arg(&args, "-s");
  fuse_operations ops{};
  ops.init = Init;
  ops.destroy = Destroy;
  ops.getattr = GetAttr;
  ops.access = Access;
  ops.readlink = ReadLink;
  ops.readdir = ReadDir;
  ops.mkdir = MkDir;
  ops.unlink = Unlink;
  ops.rmdir = RmDir;
  ops.symlink = SymLink;
  ops.rename = Rename;
  ops.link = Link;
  ops.chmod = ChMod;
  ops.chown = ChOwn;
  ops.truncate = Truncate;
  ops.utimens = UTimeNs;
  ops.create = Create;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.statfs = StatFs;
  ops.release = Release;
  ops.fsync = FSync;
  umask(0);
  int rc = fuse_main(args.argc, args.argv, &ops, nullptr);
  fuse_opt_free_args(&args);
  return rc;
}
