// SPDX-License-Identifier: GPL-3.0-or-later
// Reading ahead on a cold disk: a few threads open the files that the plan
// will read next and read their last 128 bytes (or, for an undo, look the
// names up), so that the disk's latency overlaps and the plan's own calls, in
// order, find everything cached. The
// threads decide nothing and keep nothing: what the run reads and does is
// exactly what it would be without them. They stay at most a fixed window
// ahead of the plan, and are started only once reads are seen to be slow;
// how many start, and how many folders each holds open, follows the
// process's descriptor limit. They stop again when their own first reads
// take many times what one read took alone: the file system serves one
// call at a time (a FUSE one run single-threaded, a share behind one
// connection), where reading ahead only queues each file twice.
#pragma once

#include "platform/FolderTable.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CReadAhead
{
public:
    // The folder and name of file i of the plan; called from the threads, so
    // it must only read what the plan does not change meanwhile.
    using FileAt = std::function<void(std::size_t i, std::uint32_t& folder, std::string_view& name)>;

    // What counts as slow, in seconds: a tag read with its open and close,
    // or a rename, from the caches take a few microseconds or tens; from a
    // disk, even a fast one, more.
    static constexpr double kSlowRead = 40e-6;
    static constexpr double kSlowMove = 150e-6;

    // readTail: open each file and read its tag's bytes; else look the name
    // up. A folder of CFolderTable::kNone is passed over. slow: what At's
    // seconds must reach, most of the time, for the threads to start.
    CReadAhead(const CFolderTable& folders, std::size_t count, bool readTail, FileAt fileAt, double slow);

    ~CReadAhead();
    CReadAhead(const CReadAhead&) = delete;
    CReadAhead& operator=(const CReadAhead&) = delete;

    // The plan is at file i, and its read of it took seconds; starts the
    // threads when reads are slow.
    void At(std::size_t i, double seconds);
    // The same, timing the read itself: Begin before it, At(i) after.
    void Begin();
    void At(std::size_t i);
    // Stops and joins the threads.
    void Stop();
    bool Started() const { return !m_threads.empty(); }
    // Whether At wants the time of the next read.
    bool Timing() const { return m_timed < kTimedReadsHint; }
    static constexpr std::size_t kTimedReadsHint = 32;

private:
    // The threads' first reads, timed to see whether the file system serves
    // them side by side.
    static constexpr std::size_t kSampledTouches = 16;

    static void* Run(void* self);
    void Work();

    void Touch(int folder, const char* name) const;
    void Sample(double seconds);

    const CFolderTable* m_folders = nullptr;
    std::size_t m_count;
    bool m_readTail;
    double m_slowSeconds;
    FileAt m_fileAt;
    std::atomic<std::size_t> m_next{0};
    std::atomic<std::size_t> m_position{0};
    std::atomic<bool> m_stop{false};
    std::vector<pthread_t> m_threads;
    std::vector<std::unique_ptr<CFolderTable>> m_tables;   // one for each thread
    std::atomic<std::size_t> m_tablesTaken{0};
    std::mutex m_mutex;                 // for m_moved only
    std::condition_variable m_moved;    // the plan went on: threads ahead may go on too
    std::chrono::steady_clock::time_point m_begun;
    std::size_t m_slow = 0;             // of the first reads, those that were slow
    std::size_t m_timed = 0;
    double m_tooSlow = 0;               // a thread's read that slow: calls are queued one by one
    double m_touches[kSampledTouches] = {};
    std::atomic<std::size_t> m_touchesTaken{0};
    std::atomic<std::size_t> m_touchesStored{0};
};
