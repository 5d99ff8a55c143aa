// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Threads.h"

#include <csignal>

std::vector<pthread_t> StartQuietThreads(int count, std::size_t stack, void* (*run)(void*), void* arg)
{
    std::vector<pthread_t> started;
    if (count <= 0)
        return started;
    // Signals blocked here are blocked in every thread started meanwhile.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stack);
    for (int n = 0; n < count; ++n) {
        pthread_t thread;
        if (pthread_create(&thread, &attributes, run, arg) == 0)
            started.push_back(thread);   // failing that, fewer threads do it all
    }
    pthread_attr_destroy(&attributes);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return started;
}
