// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into mp3tavoly-rename by the tests: counts the journal's writes
// and the moves (renameat2, linkat of the link-and-unlink fallback, and the
// exclusive create and renameat of the placeholder fallback), and at
// the chosen one sends the chosen signal to the program or runs a command,
// just before or just after the call. TAVOLY_KILL_AT=n, TAVOLY_KILL_WHEN=
// before|after, TAVOLY_KILL_SIGNAL=KILL|INT, TAVOLY_HOOK_CMD=command (run
// instead of the signal). TAVOLY_NO_RENAMEAT2=1 makes renameat2 fail with
// EINVAL, as on a file system without RENAME_NOREPLACE. TAVOLY_FAIL_BIG_ALLOC=n
// fails the n-th and every later allocation of 64 KiB or more.
// TAVOLY_COUNT_MOVES_ONLY=1 leaves writes uncounted (a window program writes
// to its display at any time). TAVOLY_FAIL_SYNC=1 makes every fdatasync fail
// with EIO, as after a lost write back.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" void* __libc_malloc(size_t size);

namespace {

long g_count = 0;

void Tick(bool after)
{
    static const char* at = std::getenv("TAVOLY_KILL_AT");
    static const char* when = std::getenv("TAVOLY_KILL_WHEN");
    static const char* name = std::getenv("TAVOLY_KILL_SIGNAL");
    static const char* hook = std::getenv("TAVOLY_HOOK_CMD");
    if (at == nullptr || std::atol(at) != g_count)
        return;
    if ((when != nullptr && std::strcmp(when, "after") == 0) != after)
        return;
    if (hook != nullptr) {
        const int err = errno;
        // The command's own processes must not count and hook again.
        unsetenv("LD_PRELOAD");
        unsetenv("TAVOLY_KILL_AT");
        if (std::system(hook) != 0)
            _exit(99);   // the test's own setup failed: say so loudly
        errno = err;
        return;
    }
    raise(name != nullptr && std::strcmp(name, "INT") == 0 ? SIGINT : SIGKILL);
}

} // namespace

extern "C" ssize_t write(int fd, const void* data, size_t length)
{
    using Write = ssize_t (*)(int, const void*, size_t);
    static const Write real = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
    static const bool counted = std::getenv("TAVOLY_COUNT_MOVES_ONLY") == nullptr;
    if (!counted)
        return real(fd, data, length);
    ++g_count;
    Tick(false);
    const ssize_t result = real(fd, data, length);
    Tick(true);
    return result;
}

extern "C" int linkat(int fromDir, const char* from, int toDir, const char* to, int flags)
{
    using Linkat = int (*)(int, const char*, int, const char*, int);
    static const Linkat real = reinterpret_cast<Linkat>(dlsym(RTLD_NEXT, "linkat"));
    ++g_count;
    Tick(false);
    const int result = real(fromDir, from, toDir, to, flags);
    Tick(true);
    return result;
}

// The placeholder way of a move, where a file system has neither rename flags
// nor hard links: an exclusive create of the new name (the journal's own
// files are made with O_APPEND, and are not counted), then a plain rename.
extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    using Renameat = int (*)(int, const char*, int, const char*);
    static const Renameat real = reinterpret_cast<Renameat>(dlsym(RTLD_NEXT, "renameat"));
    ++g_count;
    Tick(false);
    const int result = real(fromDir, from, toDir, to);
    Tick(true);
    return result;
}

namespace {

int OpenAt(const char* symbol, int dir, const char* path, int flags, mode_t mode)
{
    using Openat = int (*)(int, const char*, int, ...);
    const auto real = reinterpret_cast<Openat>(dlsym(RTLD_NEXT, symbol));
    const bool counted = (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL) && (flags & O_APPEND) == 0;
    if (counted) {
        ++g_count;
        Tick(false);
    }
    const int result = real(dir, path, flags, mode);
    if (counted)
        Tick(true);
    return result;
}

} // namespace

extern "C" int openat(int dir, const char* path, int flags, ...)
{
    va_list list;
    va_start(list, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(list, int)) : 0;
    va_end(list);
    return OpenAt("openat", dir, path, flags, mode);
}

extern "C" int openat64(int dir, const char* path, int flags, ...)
{
    va_list list;
    va_start(list, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(list, int)) : 0;
    va_end(list);
    return OpenAt("openat64", dir, path, flags, mode);
}

extern "C" long syscall(long number, ...)
{
    using Syscall = long (*)(long, ...);
    static const Syscall real = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
    static const bool refuse = std::getenv("TAVOLY_NO_RENAMEAT2") != nullptr;
    va_list list;
    va_start(list, number);
    long a[6];
    for (long& arg : a)
        arg = va_arg(list, long);
    va_end(list);
    const bool counted = number == SYS_renameat2;
    if (counted && refuse) {
        errno = EINVAL;
        return -1;
    }
    if (counted) {
        ++g_count;
        Tick(false);
    }
    const long result = real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
    if (counted)
        Tick(true);
    return result;
}

extern "C" int fdatasync(int fd)
{
    using Sync = int (*)(int);
    static const Sync real = reinterpret_cast<Sync>(dlsym(RTLD_NEXT, "fdatasync"));
    if (std::getenv("TAVOLY_FAIL_SYNC") != nullptr) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

extern "C" void* malloc(size_t size)
{
    static const long failAt = std::getenv("TAVOLY_FAIL_BIG_ALLOC") != nullptr
                                   ? std::atol(std::getenv("TAVOLY_FAIL_BIG_ALLOC")) : 0;
    static long big = 0;
    if (failAt > 0 && size >= 65536 && ++big >= failAt) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}
