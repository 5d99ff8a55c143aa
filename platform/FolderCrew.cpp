// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FolderCrew.h"
#include "platform/FolderTable.h"
#include "platform/Threads.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <atomic>
#include <pthread.h>
#include <unordered_map>

namespace {

// The work's own calls (UndoMoveAt's strings, a move's stat) need little.
constexpr std::size_t kStack = 1 << 18;

struct Crew
{
    const std::vector<std::vector<std::size_t>>* groups;
    const std::function<void(std::size_t)>* work;
    std::atomic<std::size_t> next{0};

    void Go()
    {
        for (std::size_t g; (g = next.fetch_add(1)) < groups->size();) {
            for (const std::size_t i : (*groups)[g])
                (*work)(i);
        }
    }
    static void* Run(void* self)
    {
        static_cast<Crew*>(self)->Go();
        return nullptr;
    }
};

} // namespace

int CCrewFolders::Open(std::uint32_t folder, std::uint64_t* device)
{
    if (folder == CFolderTable::kNone) {
        errno = ENOENT;
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const int held = m_table.Open(folder);
    if (held < 0)
        return -1;
    if (device != nullptr)
        *device = m_table.Id(folder).device;
    return fcntl(held, F_DUPFD_CLOEXEC, 0);
}

int CrewThreadsNow()
{
    // Enough to keep a share's requests in flight; more only queue there.
    constexpr int kMostThreads = 8;
    return std::min(kMostThreads, 1 + DescriptorBudgetNow().readAheadThreads);
}

void RunByFolder(const std::vector<std::uint32_t>& folderOf, int threads, const std::function<void(std::size_t)>& work)
{
    std::vector<std::vector<std::size_t>> groups;
    std::unordered_map<std::uint32_t, std::size_t> groupOf;
    for (std::size_t i = 0; i < folderOf.size(); ++i) {
        const auto found = groupOf.emplace(folderOf[i], groups.size());
        if (found.second)
            groups.emplace_back();
        groups[found.first->second].push_back(i);
    }
    Crew crew;
    crew.groups = &groups;
    crew.work = &work;
    const int helpers = std::min(threads, static_cast<int>(groups.size())) - 1;
    const std::vector<pthread_t> started = StartQuietThreads(helpers, kStack, &Crew::Run, &crew);
    crew.Go();
    for (const pthread_t thread : started)
        pthread_join(thread, nullptr);
}
