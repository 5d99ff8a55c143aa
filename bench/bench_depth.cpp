// SPDX-License-Identifier: GPL-3.0-or-later
// Peak memory of a dry run of mp3tavoly-rename over one chain of nested
// folders, at a depth and at twice that depth, and their ratio: about 2 when
// memory grows with depth, about 4 when it grows with its square. Each folder
// is named "d" and the deepest holds one MP3 file.
// build/bench/bench_depth [depth]   (default 10000)
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// depth nested folders "d" under root, made through descriptors (their paths
// outgrow PATH_MAX), and an MP3 file with an ID3v1 tag in the deepest.
bool MakeChain(const std::string& root, int depth)
{
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; fd >= 0 && level < depth; ++level) {
        const int next = mkdirat(fd, "d", 0755) == 0 ? openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        close(fd);
        fd = next;
    }
    if (fd < 0)
        return false;
    std::string bytes(1000, '\x55');
    std::string tag(128, '\0');
    std::memcpy(&tag[0], "TAG", 3);
    std::memcpy(&tag[3], "Deep Song", 9);
    bytes += tag;
    const int file = openat(fd, "track.mp3", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = file >= 0 && write(file, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (file >= 0)
        close(file);
    close(fd);
    return written;
}

// Removes the chain: down to the deepest folder, then up a level at a time.
void RemoveChain(const std::string& root)
{
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int depth = 0;
    while (fd >= 0) {
        const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            break;
        close(fd);
        fd = next;
        ++depth;
    }
    if (fd >= 0)
        unlinkat(fd, "track.mp3", 0);
    for (; fd >= 0 && depth > 0; --depth) {
        const int up = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = up;
        if (fd >= 0)
            unlinkat(fd, "d", AT_REMOVEDIR);
    }
    if (fd >= 0)
        close(fd);
    rmdir(root.c_str());
}

// The dry run's peak resident memory in KiB, or -1.
long PeakKb(const std::string& root, std::string& summary)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0)
            _exit(126);
        setenv("LANGUAGE", "en", 1);
        const char* argv[] = {RENAME_EXE, "--dry-run", root.c_str(), nullptr};
        execv(RENAME_EXE, const_cast<char**>(argv));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return -1;
    summary = "exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return WIFEXITED(status) ? usage.ru_maxrss : -1;
}

} // namespace

int main(int argc, char** argv)
{
    const int depth = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (depth <= 0) {
        std::fprintf(stderr, "usage: bench_depth [depth]\n");
        return 2;
    }
    const char* base = std::getenv("TMPDIR");
    long peaks[2] = {0, 0};
    for (int round = 0; round < 2; ++round) {
        const int levels = depth << round;
        std::string root = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tavoly-depth-XXXXXX";
        if (mkdtemp(&root[0]) == nullptr || !MakeChain(root, levels)) {
            std::perror("cannot make the folders");
            RemoveChain(root);
            return 1;
        }
        std::string summary;
        peaks[round] = PeakKb(root, summary);
        RemoveChain(root);
        std::printf("depth %6d: peak %8ld KiB   %s\n", levels, peaks[round], summary.c_str());
        if (peaks[round] < 0)
            return 1;
    }
    std::printf("ratio %.2f (2 when linear in depth, 4 when quadratic)\n",
                static_cast<double>(peaks[1]) / static_cast<double>(peaks[0]));
    return 0;
}
