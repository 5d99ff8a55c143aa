// SPDX-License-Identifier: GPL-3.0-or-later
// Lists one large folder in the real directory list (rows built, list
// refilled and painted) and compares it with a bare two-pass readdir + stat
// loop over the same folder, in the same run.
// Run under an X server: xvfb-run -a build/bench/bench_dirlist [entries]
#include "app/Globals.h"
#include "app/RenamerApp.h"
#include "app/RenamerDlg.h"
#include "browser/DirList.h"
#include "queue/QueueList.h"

#include <wx/app.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// entries names: half MP3 files, a tenth folders, the rest other files.
void MakeFolder(const std::string& root, int entries)
{
    mkdir(root.c_str(), 0755);
    const int folders = entries / 10;
    const int mp3s = entries / 2;
    for (int i = 0; i < entries; ++i)
    {
        const std::string base = root + "/entry" + std::to_string(i);
        if (i < folders)
        {
            mkdir(base.c_str(), 0755);
            continue;
        }
        const std::string path = base + (i < folders + mp3s ? ".mp3" : ".txt");
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            std::perror(path.c_str());
        else
            close(fd);
    }
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

bool EndsWithMp3(const char* name)
{
    const size_t n = std::char_traits<char>::length(name);
    if (n < 4)
        return false;
    const char* e = name + n - 4;
    return e[0] == '.' && (e[1] | 0x20) == 'm' && (e[2] | 0x20) == 'p' && e[3] == '3';
}

// The bare loop: folders in one pass, MP3 files in a second, every entry
// stat'ed by its full path.
size_t BareTwoPass(const std::string& folder)
{
    size_t found = 0;
    for (int pass = 0; pass < 2; ++pass)
    {
        DIR* dir = opendir(folder.c_str());
        if (!dir)
            return 0;
        while (const dirent* e = readdir(dir))
        {
            if (e->d_name[0] == '.')
                continue;
            struct stat st;
            const std::string path = folder + "/" + e->d_name;
            const bool isDir = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            if (pass == 0 ? isDir : (!isDir && EndsWithMp3(e->d_name)))
                ++found;
        }
        closedir(dir);
    }
    return found;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv)
{
    const int entries = argc > 1 ? std::atoi(argv[1]) : 50000;
    const int rounds = 7;
    StartToolkit(argc, argv);

    char pattern[] = "/tmp/tavoly-bench-dirlist-XXXXXX";
    const std::string base = mkdtemp(pattern);
    const std::string folder = base + "/big";
    std::printf("making a folder of %d entries...\n", entries);
    MakeFolder(folder, entries);

    auto* dlg = new CRenamerDlg(nullptr);
    dlg->Show();
    wxYield();

    // Warm both up once (page cache, allocator), then alternate.
    size_t bareRows = BareTwoPass(folder);
    g_dirList.m_location = folder;
    g_dirList.ShowLocation();
    dlg->Update();
    std::vector<double> bare, list;
    for (int r = 0; r < rounds; ++r)
    {
        auto t = Clock::now();
        bareRows = BareTwoPass(folder);
        bare.push_back(Seconds(t));

        t = Clock::now();
        g_dirList.ShowLocation();
        dlg->Update();   // the visible rows painted
        list.push_back(Seconds(t));
    }
    const size_t rows = g_dirList.RowCount();

    // How long selecting every MP3 row and queueing them take on a list this
    // long (for information; not part of the target).
    auto t = Clock::now();
    g_dirList.SelectAllMedia();
    dlg->Update();
    const double selectAll = Seconds(t);
    t = Clock::now();
    g_dirList.AddSelectedToQueue();
    dlg->Update();
    const double addAll = Seconds(t);

    const double b = Median(bare);
    const double l = Median(list);
    std::printf("rows listed      %zu (bare loop found %zu, plus the parent row)\n", rows, bareRows);
    std::printf("bare two-pass    %8.4f s (median of %d)\n", b, rounds);
    std::printf("directory list   %8.4f s (median of %d)\n", l, rounds);
    std::printf("ratio            %8.2f   (target <= 2.0) %s\n", l / b, l / b <= 2.0 ? "ok" : "MISSED");
    std::printf("select all MP3   %8.4f s\n", selectAll);
    std::printf("add them all     %8.4f s (%d queued)\n", addAll, g_queue.GetCount());

    delete dlg;
    nftw(base.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    StopToolkit();
    return rows == bareRows + 1 ? 0 : 1;
}
