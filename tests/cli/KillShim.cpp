// Preloaded into mp3tavoly-rename by the tests: counts the journal's writes
// and the moves, and at the chosen one sends the chosen signal to the program,
// just before or just after the call. TAVOLY_KILL_AT=n, TAVOLY_KILL_WHEN=
// before|after, TAVOLY_KILL_SIGNAL=KILL|INT.
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

long g_count = 0;

void Tick(bool after)
{
    static const char* at = std::getenv("TAVOLY_KILL_AT");
    static const char* when = std::getenv("TAVOLY_KILL_WHEN");
    static const char* name = std::getenv("TAVOLY_KILL_SIGNAL");
    if (at == nullptr || std::atol(at) != g_count)
        return;
    if ((when != nullptr && std::strcmp(when, "after") == 0) != after)
        return;
    raise(name != nullptr && std::strcmp(name, "INT") == 0 ? SIGINT : SIGKILL);
}

} // namespace

extern "C" ssize_t write(int fd, const void* data, size_t length)
{
    using Write = ssize_t (*)(int, const void*, size_t);
    static const Write real = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
    ++g_count;
    Tick(false);
    const ssize_t result = real(fd, data, length);
    Tick(true);
    return result;
}

extern "C" long syscall(long number, ...)
{
    using Syscall = long (*)(long, ...);
    static const Syscall real = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
    va_list list;
    va_start(list, number);
    long a[6];
    for (long& arg : a)
        arg = va_arg(list, long);
    va_end(list);
    const bool counted = number == SYS_renameat2;
    if (counted) {
        ++g_count;
        Tick(false);
    }
    const long result = real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
    if (counted)
        Tick(true);
    return result;
}
