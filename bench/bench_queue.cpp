// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real queue over a large folder tree and compares each phase with
// a bare loop of the same system calls over an identical copy of the tree.
// Run under an X server: xvfb-run -a build/bench/bench_queue [files]
// Auto-Rename and Undo run with the journal on, as in the program.
#include "app/Globals.h"
#include "app/OptionsDlg.h"
#include "app/RenamerApp.h"
#include "app/RenamerDlg.h"
#include "queue/QueueList.h"

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/listctrl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// The process's processor time so far: on a busy machine its ratio says what
// the wall-clock ratio cannot.
double CpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string TagFor(int n)
{
    std::string tag(128, '\0');
    std::memcpy(&tag[0], "TAG", 3);
    const std::string title = "Song " + std::to_string(n);
    std::memcpy(&tag[3], title.data(), title.size());
    std::memcpy(&tag[33], "Bench Artist", 12);
    tag[127] = '\x11';
    return tag;
}

// folders x perFolder files, each a few hundred bytes of frames and a tag.
void MakeTree(const std::string& root, int folders, int perFolder)
{
    mkdir(root.c_str(), 0755);
    const std::string audio(400, '\x55');
    int n = 0;
    for (int f = 0; f < folders; ++f)
    {
        const std::string folder = root + "/album" + std::to_string(f);
        mkdir(folder.c_str(), 0755);
        for (int i = 0; i < perFolder; ++i, ++n)
        {
            const std::string path = folder + "/track" + std::to_string(i) + ".mp3";
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const std::string bytes = audio + TagFor(n);
            if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
                std::perror("write");
            close(fd);
        }
    }
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

// The bare walk: opendir/readdir depth first, the MP3 paths collected.
void BareWalk(const std::string& folder, std::vector<std::string>& paths)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* e = readdir(dir))
    {
        if (e->d_name[0] == '.')
            continue;
        const std::string path = folder + "/" + e->d_name;
        if (e->d_type == DT_DIR)
            BareWalk(path, paths);
        else
            paths.push_back(path);
    }
    closedir(dir);
}

int MoveNoReplaceBare(const std::string& from, const std::string& to)
{
    return static_cast<int>(syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 1));
}

// open, read the last 128 bytes, close, move without replace.
void BareRename(std::vector<std::string>& paths)
{
    for (std::string& path : paths)
    {
        char tag[128];
        const int fd = open(path.c_str(), O_RDONLY);
        const off_t size = lseek(fd, 0, SEEK_END);
        if (pread(fd, tag, sizeof tag, size - 128) != 128)
            std::perror("pread");
        close(fd);
        const std::string title(tag + 3, strnlen(tag + 3, 30));
        const std::string target = path.substr(0, path.rfind('/') + 1) + title + ".mp3";
        if (MoveNoReplaceBare(path, target) == 0)
            path = target;
    }
}

void BareUndo(std::vector<std::string>& renamed, const std::vector<std::string>& original)
{
    for (size_t i = 0; i < renamed.size(); ++i)
        MoveNoReplaceBare(renamed[i], original[i]);
}

size_t HeapBytes(const std::string& s)
{
    // Short strings live inside the object; longer ones take a block.
    return s.capacity() > 15 ? s.capacity() + 1 : 0;
}

void Report(const char* phase, double real, double bare, double target, double cpu, double bareCpu)
{
    std::printf("%-12s queue %8.3f s   bare %8.3f s   ratio %5.2f   (target <= %.1f) %s   cpu ratio %5.2f\n",
                phase, real, bare, real / bare, target, real / bare <= target ? "ok" : "MISSED",
                cpu / bareCpu);
}
} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int perFolder = 1000;
    const int folders = (files + perFolder - 1) / perFolder;
    StartToolkit(argc, argv);
    wxInitAllImageHandlers();

    char pattern[] = "/tmp/tavoly-bench-XXXXXX";
    const std::string base = mkdtemp(pattern);
    // The window journals its renames: here, not in the user's own journal.
    setenv("XDG_STATE_HOME", (base + "/state").c_str(), 1);
    const std::string queueTree = base + "/queue";
    const std::string bareTree = base + "/bare";
    std::printf("making two trees of %d files...\n", folders * perFolder);
    MakeTree(queueTree, folders, perFolder);
    MakeTree(bareTree, folders, perFolder);
    // The new trees' writeback would otherwise fall into the timed phases.
    sync();

    auto* dlg = new CRenamerDlg(nullptr);
    dlg->Show();
    wxYield();
    g_optionsDlg.m_bWithArtist = 0;

    // Adding the folder.
    std::vector<std::string> barePaths;
    auto t = Clock::now();
    double c = CpuSeconds();
    BareWalk(bareTree, barePaths);
    const double bareWalk = Seconds(t), bareWalkCpu = CpuSeconds() - c;
    const size_t heapBefore = mallinfo2().uordblks;
    t = Clock::now();
    c = CpuSeconds();
    g_queue.AddEntry("", queueTree, ADD_FOLDER);
    const double add = Seconds(t), addCpu = CpuSeconds() - c;
    const size_t heapAfter = mallinfo2().uordblks;
    const int rows = g_queue.GetCount();
    size_t stringBytes = 0;
    for (int i = 0; i < rows; ++i)
    {
        const QueueEntry& e = g_queue.Row(static_cast<size_t>(i));
        stringBytes += HeapBytes(e.name) + HeapBytes(e.state) + HeapBytes(e.original) + HeapBytes(e.path);
    }

    g_queue.SelectAll();
    const std::vector<std::string> originals = barePaths;
    t = Clock::now();
    c = CpuSeconds();
    BareRename(barePaths);
    const double bareRename = Seconds(t), bareRenameCpu = CpuSeconds() - c;
    t = Clock::now();
    c = CpuSeconds();
    g_queue.AutoRenameSelected();
    const double rename = Seconds(t), renameCpu = CpuSeconds() - c;
    int successful = 0;
    for (int i = 0; i < rows; ++i)
        successful += g_queue.Row(static_cast<size_t>(i)).state == "Successful";

    t = Clock::now();
    c = CpuSeconds();
    BareUndo(barePaths, originals);
    const double bareUndo = Seconds(t), bareUndoCpu = CpuSeconds() - c;
    t = Clock::now();
    c = CpuSeconds();
    g_queue.UndoSelected();
    const double undo = Seconds(t), undoCpu = CpuSeconds() - c;
    int waiting = 0;
    for (int i = 0; i < rows; ++i)
        waiting += g_queue.Row(static_cast<size_t>(i)).state == "Waiting";

    // The window after all that: painted and captured.
    wxListCtrl* list = g_queue.GetCtrl();
    dlg->Refresh();
    dlg->Update();
    wxYield();
    const wxSize size = dlg->GetClientSize();
    wxBitmap shot(size);
    {
        wxClientDC screen(dlg);
        wxMemoryDC mem(shot);
        mem.Blit(0, 0, size.x, size.y, &screen, 0, 0);
    }
    shot.SaveFile(base + "-window.png", wxBITMAP_TYPE_PNG);

    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("rows queued: %d, renamed: %d, back to Waiting after undo: %d, list count: %d\n", rows,
                successful, waiting, list->GetItemCount());
    Report("add folder", add, bareWalk, 2.0, addCpu, bareWalkCpu);
    Report("auto-rename", rename, bareRename, 1.5, renameCpu, bareRenameCpu);
    Report("undo", undo, bareUndo, 1.5, undoCpu, bareUndoCpu);
    const double perRow = (static_cast<double>(heapAfter) - static_cast<double>(heapBefore) -
                           static_cast<double>(stringBytes)) / rows;
    std::printf("memory per row beyond the strings: %.0f bytes (target < 300) %s\n", perRow,
                perRow < 300 ? "ok" : "MISSED");
    std::printf("peak resident memory: %ld MiB\n", usage.ru_maxrss / 1024);
    std::printf("window after the run: %s-window.png\n", base.c_str());

    delete dlg;
    nftw(base.c_str(), RemoveEntry, 32, FTW_DEPTH | FTW_PHYS);
    StopToolkit();
    return 0;
}
