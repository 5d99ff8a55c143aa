// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ReadAhead.h"

#include <algorithm>
#include <csignal>
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
    if (m_timed >= kTimedReads) {
        if (m_threads.empty() || m_checked >= CReadAhead::kCheckedReads)
            return;
        m_after.push_back(seconds);
        // Reads that found what the threads brought in are many times faster;
        // where they are not, the threads only add calls that the file
        // system serves beside the plan's, or before them.
        if (++m_checked == CReadAhead::kCheckedReads && Median(m_after) * 2 > Median(m_before))
            Stop();
        return;
    }
    m_before.push_back(seconds);
    m_slow += seconds >= m_slowSeconds ? 1 : 0;
    if (++m_timed < kTimedReads || m_slow * 2 <= kTimedReads || m_count - i < kTimedReads)
        return;
    m_next.store(i + 1, std::memory_order_relaxed);
    // The threads take no signal: Ctrl+C stays the plan's to see.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kStack);
    const int threads = DescriptorBudgetNow().readAheadThreads;
    // Each thread's own table, for descriptors of its own; the folders are
    // the plan's, which adds none while it runs.
    for (int n = 0; n < threads; ++n) {
        m_tables.push_back(std::make_unique<CFolderTable>());
        m_tables.back()->LimitOpen(kThreadFolders);
        m_tables.back()->ShareFolders(*m_folders);
    }
    for (int n = 0; n < threads; ++n) {
        pthread_t thread;
        if (pthread_create(&thread, &attributes, &CReadAhead::Run, this) == 0)
            m_threads.push_back(thread);
    }
    pthread_attr_destroy(&attributes);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
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
        if (dir >= 0)
            Touch(dir, std::string(name).c_str());
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
