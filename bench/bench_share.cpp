// SPDX-License-Identifier: GPL-3.0-or-later
// mp3tavoly-rename on a network share, against the bare sequential loop on
// the same mount: tavoly_testfs with a latency on every operation (1 ms: a
// share across a building) that serves calls side by side as a share does,
// and sshfs to a local sshd where it can mount.
// Rename: walk; open, fstat, pread the last 128 bytes, close; renameat2
// without replace. Undo: the renameat2 moves back. Prints the ratios
// (medians of alternating rounds) and, counted by tavoly_testfs, the
// operations per file that reach the file system for both.
// build/bench/bench_share [files folders rounds]   (default 400 40 3; root)
// TAVOLY_RENAME=PATH times another build of the tool (an older one, say).
#include "fuse/TestFs.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Moves = std::vector<std::pair<std::string, std::string>>;   // new path, old path
using Counts = std::map<std::string, long>;

constexpr const char* kLatency = "latency_us=1000,threads";

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Every 37th title repeats the one before, so that its rename fails.
std::string Title(int n)
{
    return "Song number " + std::to_string(n % 37 == 36 ? n - 1 : n);
}

void MakeMp3(const std::string& path, int n)
{
    std::string bytes(400, '\x55');
    std::string tag(128, '\0');
    std::memcpy(&tag[0], "TAG", 3);
    const std::string title = Title(n);
    std::memcpy(&tag[3], title.data(), std::min<std::size_t>(title.size(), 30));
    bytes += tag;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        std::perror(path.c_str());
    if (fd >= 0)
        close(fd);
}

// Made straight in the backing folder: no latency paid for it.
void MakeTree(const std::string& root, int files, int folders)
{
    mkdir(root.c_str(), 0755);
    const int perFolder = std::max(1, files / folders);
    for (int n = 0; n < files; ++n) {
        const std::string folder = root + "/album" + std::to_string(n / perFolder);
        if (n % perFolder == 0)
            mkdir(folder.c_str(), 0755);
        MakeMp3(folder + "/track" + std::to_string(n % perFolder) + ".mp3", n);
    }
}

// renameat2 without replace; where the file system knows no rename flags
// (sshfs), a hard link and an unlink, as the tool falls back to.
int RenameNoReplace(const char* from, const char* to)
{
    if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 1) == 0)
        return 0;
    if (errno != EINVAL || link(from, to) != 0)
        return -1;
    return unlink(from);
}

// The bare loop: each folder read and closed, then its files: open, fstat,
// read the last 128 bytes, close, rename to the raw title without replacing.
void BareRename(const std::string& folder, Moves& moves)
{
    std::vector<std::pair<std::string, bool>> entries;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            bool isFolder = e->d_type == DT_DIR;
            struct stat st;
            // sshfs tells no kinds: a walk must look.
            if (e->d_type == DT_UNKNOWN && lstat((folder + "/" + e->d_name).c_str(), &st) == 0)
                isFolder = S_ISDIR(st.st_mode);
            entries.emplace_back(e->d_name, isFolder);
        }
        closedir(dir);
    }
    for (const auto& [name, isFolder] : entries) {
        const std::string path = folder + "/" + name;
        if (isFolder) {
            BareRename(path, moves);
            continue;
        }
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0)
            continue;
        char tag[128];
        struct stat st;
        const bool read128 = fstat(fd, &st) == 0 && st.st_size >= 128
                             && pread(fd, tag, 128, st.st_size - 128) == 128;
        close(fd);
        if (!read128 || std::memcmp(tag, "TAG", 3) != 0)
            continue;
        const std::string target = folder + "/" + std::string(tag + 3, strnlen(tag + 3, 30)) + ".mp3";
        if (RenameNoReplace(path.c_str(), target.c_str()) == 0)
            moves.emplace_back(target, path);
    }
}

void BareUndo(const Moves& moves)
{
    for (auto m = moves.rbegin(); m != moves.rend(); ++m)
        (void)RenameNoReplace(m->first.c_str(), m->second.c_str());
}

// mp3tavoly-rename with args, its journal in state, its output thrown away:
// wall-clock seconds, or -1 when it did not end with 0.
double RunTool(const std::vector<std::string>& args, const std::string& state)
{
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_STATE_HOME", state.c_str(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        const char* other = std::getenv("TAVOLY_RENAME");
        const char* program = other != nullptr && *other != '\0' ? other : RENAME_EXE;
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = Seconds(start);
    // 1: some files failed (the repeated titles), as planned.
    return WIFEXITED(status) && WEXITSTATUS(status) <= 1 ? seconds : -1;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Figures
{
    double tool = 0, bare = 0, undo = 0, bareUndo = 0;
};

// Each round: the tool's rename and the bare loop's, then the tool's undo
// and the bare loop's moves back, each pair in alternating order; medians.
Figures Measure(const std::string& mount, const std::string& state, int rounds)
{
    std::vector<double> tool, bare, undo, bareUndo;
    for (int r = 0; r < rounds; ++r) {
        Moves moves;
        const bool toolFirst = r % 2 == 0;
        for (int step = 0; step < 4; ++step) {
            const bool renaming = step < 2;
            const bool isTool = (step % 2 == 0) == toolFirst;
            if (renaming && isTool) {
                tool.push_back(RunTool({"-q", "-t", mount + "/tool"}, state));
            } else if (renaming) {
                const Clock::time_point start = Clock::now();
                BareRename(mount + "/bare", moves);
                bare.push_back(Seconds(start));
                if (moves.empty())
                    std::printf("  (the bare loop renamed nothing)\n");
            } else if (isTool) {
                undo.push_back(RunTool({"-q", "--undo"}, state));
            } else {
                const Clock::time_point start = Clock::now();
                BareUndo(moves);
                bareUndo.push_back(Seconds(start));
            }
        }
    }
    if (std::find(tool.begin(), tool.end(), -1.0) != tool.end()
        || std::find(undo.begin(), undo.end(), -1.0) != undo.end())
        std::printf("  (a run of the tool failed)\n");
    return Figures{Median(tool), Median(bare), Median(undo), Median(bareUndo)};
}

void Report(const char* label, int files, const Figures& f)
{
    std::printf("%-22s %5d files  rename %.3f s vs bare %.3f s = %.2fx   undo %.3f s vs bare %.3f s = %.2fx\n",
                label, files, f.tool, f.bare, f.tool / f.bare, f.undo, f.bareUndo, f.undo / f.bareUndo);
}

Counts ReadCounts(const std::string& file)
{
    Counts counts;
    if (FILE* in = std::fopen(file.c_str(), "r")) {
        char op[64];
        long n = 0;
        while (std::fscanf(in, "%63s %ld", op, &n) == 2)
            counts[op] = n;
        std::fclose(in);
    }
    std::remove(file.c_str());
    return counts;
}

std::string PerFile(const Counts& counts, int files)
{
    long total = 0;
    std::string parts;
    char buffer[64];
    for (const auto& [op, n] : counts) {
        total += n;
        std::snprintf(buffer, sizeof buffer, "%s%s %.2f", parts.empty() ? "" : ", ", op.c_str(),
                      static_cast<double>(n) / files);
        parts += buffer;
    }
    std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(total) / files);
    return std::string(buffer) + " (" + parts + ")";
}

// Operations that reach the file system for each of the four, each on a
// mount of its own over the backing folder, counted at its unmount.
void ReportOperations(const std::string& base, const std::string& state, int files, int folders)
{
    const std::string backing = base + "/counted";
    const std::string mountPoint = base + "/counted-mnt";
    const std::string countFile = base + "/counts";
    mkdir(backing.c_str(), 0755);
    mkdir(mountPoint.c_str(), 0755);
    MakeTree(backing + "/tool", files, folders);
    MakeTree(backing + "/bare", files, folders);
    Moves moves;
    const auto counted = [&](const auto& what) {
        tavoly_test::TestFs fs = tavoly_test::TestFs::Ours(std::string(kLatency) + ",count_file=" + countFile,
                                                           backing, mountPoint);
        if (!fs.Mounted())
            return Counts{};
        what(fs.Path());
        fs.Unmount();
        return ReadCounts(countFile);
    };
    const Counts rename = counted([&](const std::string& at) { RunTool({"-q", "-t", at + "/tool"}, state); });
    const Counts undo = counted([&](const std::string&) { RunTool({"-q", "--undo"}, state); });
    const Counts bare = counted([&](const std::string& at) { BareRename(at + "/bare", moves); });
    const Counts bareUndo = counted([&](const std::string&) { BareUndo(moves); });
    std::printf("operations per file reaching the file system (a lookup counts as a getattr):\n"
                "  rename: ours %s\n          bare %s\n  undo:   ours %s\n          bare %s\n",
                PerFile(rename, files).c_str(), PerFile(bare, files).c_str(), PerFile(undo, files).c_str(),
                PerFile(bareUndo, files).c_str());
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::atoi(argv[1]) : 400;
    const int folders = argc > 2 ? std::atoi(argv[2]) : 40;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/tavoly-share-XXXXXX";
    if (files <= 0 || folders <= 0 || rounds <= 0 || mkdtemp(&base[0]) == nullptr) {
        std::fprintf(stderr, "usage: %s [files folders rounds]\n", argv[0]);
        return 1;
    }
    const std::string state = base + "/state";
    mkdir(state.c_str(), 0755);
    std::printf("mp3tavoly-rename on a share against the bare sequential loop on the same mount, "
                "%d files in %d folders, medians of %d rounds\n", files, folders, rounds);
    {
        tavoly_test::TestFs fs = tavoly_test::TestFs::Ours(kLatency);
        if (fs.Mounted()) {
            MakeTree(fs.Backing() + "/tool", files, folders);
            MakeTree(fs.Backing() + "/bare", files, folders);
            Report("tavoly_testfs, 1 ms", files, Measure(fs.Path(), state, rounds));
        } else {
            std::printf("tavoly_testfs: not measured: %s\n", fs.Reason().c_str());
        }
    }
    {
        tavoly_test::TestFs fs = tavoly_test::TestFs::Sshfs();
        if (fs.Mounted()) {
            MakeTree(fs.Backing() + "/tool", files, folders);
            MakeTree(fs.Backing() + "/bare", files, folders);
            Report("sshfs, local sshd", files, Measure(fs.Path(), state, rounds));
        } else {
            std::printf("sshfs: not measured: %s\n", fs.Reason().c_str());
        }
    }
    ReportOperations(base, state, files, folders);
    nftw(base.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    return 0;
}
