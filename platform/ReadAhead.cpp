// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ReadAhead.h"
#include "platform/Threads.h"

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Each thread needs little stack. How many start (enough to keep a disk's
// queue full) is what the descriptor limit leaves them: DescriptorBudgetNow.
constexpr std::size_t kStack = 1 << 16;
// Folders a thread's own table holds: the files come in plan order, so
// mostly one folder after another, each opened from its parent.
constexpr std::size_t kThreadFolders = 2;
// How far ahead of the plan the threads may read.
constexpr std::size_t kWindow = 4096;
// The first reads that are timed. Most of them must be slow: the very first
// read also pays for one-time set-ups.
constexpr std::size_t kTimedReads = CReadAhead::kTimedReadsHint;
// The plan wakes waiting threads once this many files on.
constexpr std::size_t kWakeEvery = 256;
// Reads timed alone before the threads start.
constexpr std::size_t kTimedAlone = 3;

double Median(std::vector<double>& seconds)
{
    std::nth_element(seconds.begin(), seconds.begin() + static_cast<std::ptrdiff_t>(seconds.size() / 2),
                     seconds.end());
    return seconds[seconds.size() / 2];
}

} // namespace

CReadAhead::CReadAhead(const CFolderTable& folders, std::size_t count, bool readTail, FileAt fileAt, double slow)
    : m_folders(&folders), m_count(count), m_readTail(readTail), m_slowSeconds(slow), m_fileAt(std::move(fileAt))
{
}

CReadAhead::~CReadAhead()
{
    Stop();
}

void CReadAhead::Begin()
{
    if (Timing())
        m_begun = std::chrono::steady_clock::now();
}

void CReadAhead::At(std::size_t i)
{
    At(i, Timing() ? std::chrono::duration<double>(std::chrono::steady_clock::now() - m_begun).count() : 0.0);
}

void CReadAhead::At(std::size_t i, double seconds)
{
    m_position.store(i, std::memory_order_relaxed);
    if (i % kWakeEvery == 0 && !m_threads.empty()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_moved.notify_all();
    }
    if (m_timed >= kTimedReads)
        return;
    m_slow += seconds >= m_slowSeconds ? 1 : 0;
    if (++m_timed < kTimedReads || m_slow * 2 <= kTimedReads || m_count - i < kTimedReads)
        return;
    m_next.store(i + 1, std::memory_order_relaxed);
    const int threads = DescriptorBudgetNow().readAheadThreads;
    // Each thread's own table, for descriptors of its own; the folders are
    // the plan's, which adds none while it runs.
    for (int n = 0; n < threads; ++n) {
        m_tables.push_back(std::make_unique<CFolderTable>());
        m_tables.back()->LimitOpen(kThreadFolders);
        m_tables.back()->ShareFolders(*m_folders);
    }
    // A file system that serves calls side by side (a disk with a queue, a
    // share with requests in flight) keeps each thread's read near what one
    // read takes alone; one that serves them one at a time makes it about
    // as many times slower as there are threads. Timed here on the next few
    // files, which the plan then finds in the caches where there are any.
    std::vector<double> alone;
    for (std::size_t k = i + 1; threads > 0 && k < m_count && k <= i + kTimedAlone; ++k) {
        std::uint32_t folder = 0;
        std::string_view name;
        m_fileAt(k, folder, name);
        const int dir = folder == CFolderTable::kNone ? -1 : m_tables[0]->Open(folder);
        if (dir < 0)
            continue;
        const auto begun = std::chrono::steady_clock::now();
        Touch(dir, std::string(name).c_str());
        alone.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count());
    }
    m_tooSlow = alone.empty() ? 1e9 : Median(alone) * std::max(2, threads / 2);
    m_threads = StartQuietThreads(threads, kStack, &CReadAhead::Run, this);
}

void CReadAhead::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.store(true);
        m_moved.notify_all();
    }
    for (const pthread_t thread : m_threads)
        pthread_join(thread, nullptr);
    m_threads.clear();
    m_tables.clear();
}

void* CReadAhead::Run(void* self)
{
    static_cast<CReadAhead*>(self)->Work();
    return nullptr;
}

void CReadAhead::Work()
{
    // A table of its own: the plan's opens and closes its descriptors freely.
    CFolderTable* folders = m_tables[m_tablesTaken.fetch_add(1)].get();
    while (!m_stop.load(std::memory_order_relaxed)) {
        const std::size_t next = m_next.fetch_add(1);
        if (next >= m_count)
            break;
        const std::size_t i = next;
        if (i > m_position.load(std::memory_order_relaxed) + kWindow) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_moved.wait(lock, [&] {
                return m_stop.load() || i <= m_position.load(std::memory_order_relaxed) + kWindow;
            });
            if (m_stop.load())
                break;
        }
        std::uint32_t folder = 0;
        std::string_view name;
        m_fileAt(i, folder, name);
        const int dir = folder == CFolderTable::kNone ? -1 : folders->Open(folder);
        if (dir < 0)
            continue;
        const auto begun = std::chrono::steady_clock::now();
        Touch(dir, std::string(name).c_str());
        if (m_touchesTaken.load(std::memory_order_relaxed) < kSampledTouches)
            Sample(std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count());
    }
}

// The threads' first reads: where their median is too slow, they all stop.
void CReadAhead::Sample(double seconds)
{
    const std::size_t at = m_touchesTaken.fetch_add(1);
    if (at >= kSampledTouches)
        return;
    m_touches[at] = seconds;
    if (m_touchesStored.fetch_add(1, std::memory_order_acq_rel) + 1 < kSampledTouches)
        return;
    std::vector<double> touches(m_touches, m_touches + kSampledTouches);
    if (Median(touches) > m_tooSlow) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.store(true);
        m_moved.notify_all();
    }
}

// Brings what the plan will need of the file into the caches; what it finds
// is thrown away. Only read, never followed through a link.
void CReadAhead::Touch(int folder, const char* name) const
{
    struct stat st;
    if (!m_readTail) {
        fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW);
        return;
    }
    const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    char tail[128];
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= static_cast<off_t>(sizeof tail)) {
        if (pread(fd, tail, sizeof tail, st.st_size - static_cast<off_t>(sizeof tail)) < 0) {
            // Nothing to do: the plan's own read will say why.
        }
    }
    close(fd);
}
