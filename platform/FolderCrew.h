// SPDX-License-Identifier: GPL-3.0-or-later
// Moves made side by side where the file system answers slowly (a share,
// a phone): each folder's work in its order on one thread, since a folder's
// changes are made one at a time anyway, and folders on several threads at
// once, so that their round trips overlap. Used only for work whose names
// cannot meet across the files given (a batch whose names are all apart).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class CFolderTable;

// How long a move must take, most of the time, for the crew to pay: on a
// local disk a move from the caches takes microseconds, on a share a round
// trip or more.
constexpr double kSlowMoveSeconds = 300e-6;

// Calls work(i) for every i of folderOf, those of one folder in order and on
// one thread, different folders on up to threads threads (the caller's among
// them). Returns when all are done. work must be safe to call from several
// threads at once for different folders.
void RunByFolder(const std::vector<std::uint32_t>& folderOf, int threads, const std::function<void(std::size_t)>& work);

// A folder table a crew's threads share, one at a time.
class CCrewFolders
{
public:
    explicit CCrewFolders(CFolderTable& table) : m_table(table) {}
    // A descriptor of folder of the crew's own (the table may close its one
    // meanwhile), with its device; -1 with errno (ENOENT for no folder).
    int Open(std::uint32_t folder, std::uint64_t* device = nullptr);

private:
    CFolderTable& m_table;
    std::mutex m_mutex;
};

// How many threads a crew may take now: a few, and each holds a descriptor,
// so no more than the descriptor limit leaves to reading ahead.
int CrewThreadsNow();

// Times moves and tells when enough of them were slow to make them side by
// side from then on.
class CMovePace
{
public:
    void Took(double seconds)
    {
        if (m_timed >= kTimed)
            return;
        m_slow += seconds >= kSlowMoveSeconds ? 1 : 0;
        ++m_timed;
    }
    // Still timing: the next moves are made one at a time.
    bool Timing() const { return m_timed < kTimed; }
    bool Slow() const { return m_timed >= kTimed && m_slow * 2 > kTimed; }

private:
    static constexpr int kTimed = 8;
    int m_timed = 0;
    int m_slow = 0;
};
