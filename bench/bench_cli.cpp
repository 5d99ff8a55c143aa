// SPDX-License-Identifier: GPL-3.0-or-later
// Times the whole mp3tavoly-rename process, journal on, against a bare C loop
// of the same system calls over an identical copy of the tree (walk; open,
// read the last 128 bytes, close; renameat2 without replace), and --undo
// against a bare loop of the moves back. Prints the ratios (medians of five
// alternating rounds), the system calls per file of both (with strace, where
// present), peak memory, and a dry run's memory and time per file in one
// folder of many files. Then the same for --tag any on files that carry an
// ID3v2 tag too (the bare loop reads the first 4 KiB and takes the title
// from the tag's first frame, or the last 128 bytes where there is no tag),
// and --tag any's time against the plain run's.
// build/bench/bench_cli [files...] [--one-folder files...]
//   (default 20000 100000, 100 per folder; --one-folder 200000)
// Cold-cache figures need root and a writable /proc/sys/vm/drop_caches.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Mostly plain titles; every 10th in Latin-1, every 10th + 5 in UTF-8, and
// every 37th repeating the one before, so that its rename fails.
std::string Title(int n)
{
    if (n % 37 == 36)
        return Title(n - 1);
    if (n % 10 == 0)
        return "Caf\xE9 cr\xE8me " + std::to_string(n);
    if (n % 10 == 5)
        return "Caf\xC3\xA9 cr\xC3\xA8me " + std::to_string(n);
    return "Song number " + std::to_string(n);
}

std::string Tag(int n)
{
    std::string tag(128, '\0');
    std::memcpy(&tag[0], "TAG", 3);
    const std::string title = Title(n);
    std::memcpy(&tag[3], title.data(), std::min<size_t>(title.size(), 30));
    std::memcpy(&tag[33], "Bench Artist", 12);
    tag[127] = '\x11';
    return tag;
}

std::string SyncSafe(std::size_t n)
{
    return {static_cast<char>(n >> 21 & 0x7F), static_cast<char>(n >> 14 & 0x7F),
            static_cast<char>(n >> 7 & 0x7F), static_cast<char>(n & 0x7F)};
}

std::string Frame23(const std::string& id, const std::string& text)
{
    const std::size_t n = text.size() + 1;
    return id + std::string{'\0', '\0', static_cast<char>(n >> 8), static_cast<char>(n), '\0', '\0', '\0'} + text;
}

// An ID3v2.3 tag as writers make them: title (longer than ID3v1 keeps),
// artist, 1 KiB of padding. Every 10th file has none.
std::string Id3v2Tag(int n)
{
    if (n % 10 == 7)
        return std::string();
    const std::string frames = Frame23("TIT2", Title(n) + " (Remastered 2011)") + Frame23("TPE1", "Bench Artist")
                               + std::string(1024, '\0');
    return "ID3\x03" + std::string(2, '\0') + SyncSafe(frames.size()) + frames;
}

void MakeMp3(const std::string& path, std::size_t audio, int n, bool id3v2 = false)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string bytes = (id3v2 ? Id3v2Tag(n) : std::string()) + std::string(audio, '\x55') + Tag(n);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        std::perror(path.c_str());
    if (fd >= 0)
        close(fd);
}

void MakeTree(const std::string& root, int files, bool id3v2 = false)
{
    mkdir(root.c_str(), 0755);
    for (int n = 0; n < files; ++n) {
        const std::string folder = root + "/album" + std::to_string(n / 100);
        if (n % 100 == 0)
            mkdir(folder.c_str(), 0755);
        MakeMp3(folder + "/track" + std::to_string(n % 100) + ".mp3", 400, n, id3v2);
    }
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

int RenameNoReplace(const char* from, const char* to)
{
    return static_cast<int>(syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 1));
}

using Moves = std::vector<std::pair<std::string, std::string>>;   // new path, old path

// A folder's entries (name, whether a folder), read and closed before any is
// touched.
std::vector<std::pair<std::string, bool>> FolderEntries(const std::string& folder)
{
    std::vector<std::pair<std::string, bool>> entries;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return entries;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.')
            entries.emplace_back(e->d_name, e->d_type == DT_DIR);
    }
    closedir(dir);
    return entries;
}

// The bare loop's read of a file: open, the last 128 bytes, close; the raw
// title of an ID3v1 tag.
bool BareTitle(const std::string& path, std::string& title)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    char tag[128];
    const bool read128 = lseek(fd, -128, SEEK_END) >= 0 && read(fd, tag, 128) == 128;
    close(fd);
    if (!read128 || std::memcmp(tag, "TAG", 3) != 0)
        return false;
    title.assign(tag + 3, strnlen(tag + 3, 30));
    return true;
}

// The bare loop: each folder read and closed, then its files: open, read the
// last 128 bytes, close, rename to the raw title without replacing.
void BareRename(const std::string& folder, Moves& moves)
{
    const std::vector<std::pair<std::string, bool>> entries = FolderEntries(folder);
    for (const auto& [name, isFolder] : entries) {
        const std::string path = folder + "/" + name;
        if (isFolder) {
            BareRename(path, moves);
            continue;
        }
        std::string title;
        if (!BareTitle(path, title))
            continue;
        const std::string target = folder + "/" + title + ".mp3";
        if (RenameNoReplace(path.c_str(), target.c_str()) == 0)
            moves.emplace_back(target, path);
    }
}

// The same for --tag any: the first 4 KiB; the ID3v2 tag's first frame (the
// title, in these files) when they begin with one, else the last 128 bytes.
void BareRenameAny(const std::string& folder, Moves& moves)
{
    const std::vector<std::pair<std::string, bool>> entries = FolderEntries(folder);
    static char head[4096];
    for (const auto& [name, isFolder] : entries) {
        const std::string path = folder + "/" + name;
        if (isFolder) {
            BareRenameAny(path, moves);
            continue;
        }
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0)
            continue;
        std::string title;
        const ssize_t got = pread(fd, head, sizeof head, 0);
        if (got >= 21 && std::memcmp(head, "ID3", 3) == 0 && std::memcmp(head + 10, "TIT2", 4) == 0) {
            const auto size = static_cast<std::size_t>(static_cast<unsigned char>(head[16]) << 8
                                                       | static_cast<unsigned char>(head[17]));
            if (size >= 1 && 21 + size - 1 <= static_cast<std::size_t>(got))
                title.assign(head + 21, size - 1);
        } else {
            char tag[128];
            if (lseek(fd, -128, SEEK_END) >= 0 && read(fd, tag, 128) == 128 && std::memcmp(tag, "TAG", 3) == 0)
                title.assign(tag + 3, strnlen(tag + 3, 30));
        }
        close(fd);
        if (title.empty())
            continue;
        const std::string target = folder + "/" + title + ".mp3";
        if (RenameNoReplace(path.c_str(), target.c_str()) == 0)
            moves.emplace_back(target, path);
    }
}

// The bare loop of a dry run: each file read as in BareRename, and its
// target name looked up instead of taken.
int BareDryRun(const std::string& folder)
{
    int free = 0;
    for (const auto& [name, isFolder] : FolderEntries(folder)) {
        const std::string path = folder + "/" + name;
        if (isFolder) {
            free += BareDryRun(path);
            continue;
        }
        std::string title;
        if (!BareTitle(path, title))
            continue;
        struct stat st;
        const std::string target = folder + "/" + title + ".mp3";
        free += lstat(target.c_str(), &st) != 0;
    }
    return free;
}

double CpuSeconds(const rusage& u)
{
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
           + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double SelfCpu()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return CpuSeconds(u);
}

struct ProcessRun
{
    double seconds = 0;
    double cpu = 0;
    long peakKb = 0;
    int status = -1;
};

// Starts program with args, its journal in state and its output thrown away.
pid_t StartQuiet(const char* program, const std::vector<std::string>& args, const std::string& state)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_STATE_HOME", state.c_str(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program, argv.data());
        _exit(127);
    }
    return pid;
}

ProcessRun RunTool(const std::vector<std::string>& args, const std::string& state)
{
    ProcessRun run;
    const Clock::time_point start = Clock::now();
    const pid_t pid = StartQuiet(RENAME_EXE, args, state);
    int status = 0;
    rusage usage;
    wait4(pid, &status, 0, &usage);
    run.seconds = Seconds(start);
    run.peakKb = usage.ru_maxrss;
    run.cpu = CpuSeconds(usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool DropCaches()
{
    sync();
    const int fd = open("/proc/sys/vm/drop_caches", O_WRONLY);
    const bool dropped = fd >= 0 && write(fd, "3", 1) == 1;
    if (fd >= 0)
        close(fd);
    return dropped;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures
{
    double tool = 0, bare = 0, undo = 0, bareUndo = 0;   // wall-clock seconds
    double toolCpu = 0, bareCpu = 0, undoCpu = 0, bareUndoCpu = 0;
    long peakKb = 0, undoPeakKb = 0;
    double pathBytes = 0;   // path and new name per file, as the tool keeps them
};

// Each round: the tool's rename and the bare loop's, then the tool's undo
// and the bare loop's moves back, each pair in alternating order; medians.
// The tool names files "Title.mp3", as the bare loop does; with tagAny, from
// the ID3v2 tag where there is one.
Figures Measure(const std::string& root, int files, int rounds, bool cold, bool tagAny = false)
{
    std::vector<double> tool, bare, undo, bareUndo;
    std::vector<double> toolCpu, bareCpu, undoCpu, bareUndoCpu;
    Figures f;
    const std::string state = root + "/state";
    bool dropped = true;
    auto drop = [&]() {
        if (cold)
            dropped = dropped && DropCaches();
    };
    for (int r = 0; r < rounds && dropped; ++r) {
        Moves moves;
        for (int step = 0; step < 4; ++step) {
            const bool toolFirst = r % 2 == 0;
            const bool renaming = step < 2;
            const bool isTool = (step % 2 == 0) == toolFirst;
            drop();
            if (renaming && isTool) {
                const ProcessRun run = tagAny ? RunTool({"--tag", "any", "-t", root + "/tool"}, state)
                                              : RunTool({"-t", root + "/tool"}, state);
                tool.push_back(run.seconds);
                toolCpu.push_back(run.cpu);
                f.peakKb = std::max(f.peakKb, run.peakKb);
            } else if (renaming) {
                const Clock::time_point start = Clock::now();
                const double cpu = SelfCpu();
                (tagAny ? BareRenameAny : BareRename)(root + "/bare", moves);
                bare.push_back(Seconds(start));
                bareCpu.push_back(SelfCpu() - cpu);
                if (static_cast<int>(moves.size()) < files * 9 / 10)
                    std::printf("  (bare loop renamed only %zu files)\n", moves.size());
            } else if (isTool) {
                const ProcessRun run = RunTool({"--undo"}, state);
                undo.push_back(run.seconds);
                undoCpu.push_back(run.cpu);
                f.undoPeakKb = std::max(f.undoPeakKb, run.peakKb);
                if (run.status != 0)
                    std::printf("  (undo exit status %d)\n", run.status);
            } else {
                const Clock::time_point back = Clock::now();
                const double cpu = SelfCpu();
                for (auto m = moves.rbegin(); m != moves.rend(); ++m)
                    RenameNoReplace(m->first.c_str(), m->second.c_str());
                bareUndo.push_back(Seconds(back));
                bareUndoCpu.push_back(SelfCpu() - cpu);
            }
        }
    }
    if (!dropped || tool.empty())
        return f;
    f.tool = Median(tool);
    f.bare = Median(bare);
    f.undo = Median(undo);
    f.bareUndo = Median(bareUndo);
    f.toolCpu = Median(toolCpu);
    f.bareCpu = Median(bareCpu);
    f.undoCpu = Median(undoCpu);
    f.bareUndoCpu = Median(bareUndoCpu);
    // What the tool keeps per file: the path as found and the new name.
    f.pathBytes = static_cast<double>(root.size() + sizeof "/tool/album000/track00.mp3" - 1
                                      + sizeof "Song number 00000.mp3" - 1);
    return f;
}

// The system calls of one run of argv under strace -c, or -1 without strace.
// Its main thread only: threads reading ahead (which strace's slowness would
// start) make calls beside the run's own, not in its way.
long CountCalls(const std::vector<std::string>& args, const std::string& state)
{
    if (access("/usr/bin/strace", X_OK) != 0)
        return -1;
    const std::string out = state + "/calls";
    std::vector<std::string> traced{"-c", "-o", out};
    traced.insert(traced.end(), args.begin(), args.end());
    const pid_t pid = StartQuiet("/usr/bin/strace", traced, state);
    int status = 0;
    waitpid(pid, &status, 0);
    // The last line: "100.00 seconds usecs/call calls errors total".
    FILE* file = std::fopen(out.c_str(), "r");
    long calls = -1;
    char line[512];
    while (file != nullptr && std::fgets(line, sizeof line, file) != nullptr) {
        double percent, seconds;
        long count;
        char name[64];
        if (std::strstr(line, " total") != nullptr
            && std::sscanf(line, "%lf %lf %*s %ld %*s %63s", &percent, &seconds, &count, name) >= 3)
            calls = count;
        else if (std::strstr(line, " total") != nullptr
                 && std::sscanf(line, "%lf %lf %ld %63s", &percent, &seconds, &count, name) >= 3)
            calls = count;
    }
    if (file != nullptr)
        std::fclose(file);
    std::remove(out.c_str());
    return calls;
}

// System calls per file: the tool's rename and undo, the bare loop's rename
// (run by this program as a child, under the same strace). Last use of the
// tree: the bare copy stays renamed.
void ReportCalls(const std::string& root, int files, const char* self)
{
    const std::string state = root + "/calls-state";
    mkdir(state.c_str(), 0755);
    const long rename = CountCalls({RENAME_EXE, "-q", "-t", root + "/tool"}, state);
    const long undo = CountCalls({RENAME_EXE, "-q", "--undo"}, state);
    const long bare = CountCalls({self, "--bare-rename", root + "/bare"}, state);
    if (rename < 0 || bare < 0) {
        std::printf("system calls: not counted (needs /usr/bin/strace)\n");
        return;
    }
    std::printf("system calls per file %7d files: rename %.2f vs bare %.2f; undo %.2f vs bare 1.00 "
                "(one renameat2 a file)\n",
                files, static_cast<double>(rename) / files, static_cast<double>(bare) / files,
                static_cast<double>(undo) / files);
}

// A dry run over one folder of files: peak memory, and time per file against
// the bare loop of a dry run, alternating.
void ReportOneFolder(const std::string& base, int files)
{
    const std::string root = base + "/one-" + std::to_string(files);
    const std::string folder = root + "/m";
    mkdir(root.c_str(), 0755);
    mkdir(folder.c_str(), 0755);
    for (int n = 0; n < files; ++n)
        MakeMp3(folder + "/track " + std::to_string(n) + ".mp3", 200, n);
    RunTool({"-n", "-q", "-t", folder}, root);   // once to warm the cache
    std::vector<double> seconds, bare;
    long peakKb = 0;
    for (int r = 0; r < 5; ++r) {
        const ProcessRun run = RunTool({"-n", "-q", "-t", folder}, root);
        seconds.push_back(run.seconds);
        peakKb = std::max(peakKb, run.peakKb);
        const auto begun = Clock::now();
        if (BareDryRun(folder) < 0)
            std::printf("?");
        bare.push_back(std::chrono::duration<double>(Clock::now() - begun).count());
    }
    std::printf("dry run, one folder %8d files: peak %ld KiB = %.0f bytes a file, %.2f us a file = %.2fx the "
                "bare loop's (%.2f us)\n",
                files, peakKb, static_cast<double>(peakKb) * 1024.0 / files, Median(seconds) * 1e6 / files,
                Median(seconds) / Median(bare), Median(bare) * 1e6 / files);
    nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void Report(const char* label, int files, const Figures& f)
{
    if (f.bare <= 0) {
        std::printf("%-8s %7d files  not measured (caches could not be dropped)\n", label, files);
        return;
    }
    std::printf("%-8s %7d files  rename %.3f s vs bare %.3f s = %.2fx (cpu %.2fx)   "
                "undo %.3f s vs bare %.3f s = %.2fx (cpu %.2fx)\n",
                label, files, f.tool, f.bare, f.tool / f.bare, f.toolCpu / f.bareCpu, f.undo,
                f.bareUndo, f.undo / f.bareUndo, f.undoCpu / f.bareUndoCpu);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--bare-rename") == 0) {
        // Alone, for counting its calls (the tree is thrown away after).
        Moves moves;
        BareRename(argv[2], moves);
        return 0;
    }
    std::vector<int> sizes, oneFolder;
    bool one = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--one-folder") == 0)
            one = true;
        else
            (one ? oneFolder : sizes).push_back(std::atoi(argv[i]));
    }
    if (sizes.empty() && !one)
        sizes = {20000, 100000};
    if (oneFolder.empty() && (!one || argc == 2))
        oneFolder = {200000};
    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/tavoly-bench-XXXXXX";
    if (mkdtemp(&base[0]) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const bool canDrop = geteuid() == 0 && DropCaches();
    std::printf("mp3tavoly-rename against a bare loop of the same system calls, journal on\n");
    std::vector<std::pair<int, Figures>> warm;
    for (const int files : sizes) {
        const std::string root = base + "/" + std::to_string(files);
        mkdir(root.c_str(), 0755);
        MakeTree(root + "/tool", files);
        MakeTree(root + "/bare", files);
        const Figures f = Measure(root, files, 5, false);
        Report("warm", files, f);
        warm.emplace_back(files, f);
        if (canDrop)
            Report("cold", files, Measure(root, files, 5, true));
        ReportCalls(root, files, argv[0]);
        nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);

        const std::string any = base + "/" + std::to_string(files) + "-any";
        mkdir(any.c_str(), 0755);
        MakeTree(any + "/tool", files, true);
        MakeTree(any + "/bare", files, true);
        const Figures a = Measure(any, files, 5, false, true);
        Report("any", files, a);
        if (canDrop)
            Report("any cold", files, Measure(any, files, 5, true, true));
        if (a.tool > 0 && f.tool > 0)
            std::printf("--tag any %7d files  rename %.2fx the time of the plain run above, cpu %.2fx "
                        "(%zu-byte ID3v2 tags, every 10th file without)\n",
                        files, a.tool / f.tool, a.toolCpu / f.toolCpu, Id3v2Tag(1).size());
        nftw(any.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    if (!canDrop)
        std::printf("cold cache: not measured (needs root and a writable /proc/sys/vm/drop_caches)\n");
    for (const auto& [files, f] : warm)
        std::printf("peak memory %7d files: rename %ld KiB, undo %ld KiB\n", files, f.peakKb,
                    f.undoPeakKb);
    if (warm.size() >= 2) {
        const auto& [small, a] = warm.front();
        const auto& [large, b] = warm.back();
        const double perFile = static_cast<double>(b.peakKb - a.peakKb) * 1024.0 / (large - small);
        const double undoPerFile = static_cast<double>(b.undoPeakKb - a.undoPeakKb) * 1024.0 / (large - small);
        std::printf("memory growth per file: rename %.0f bytes (about %.0f of them path and name), "
                    "undo %.0f bytes\n", perFile, b.pathBytes, undoPerFile);
    }
    for (const int files : oneFolder)
        ReportOneFolder(base, files);
    rmdir(base.c_str());
    return 0;
}
