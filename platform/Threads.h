// SPDX-License-Identifier: GPL-3.0-or-later
// Helper threads that take no signal, so that Ctrl+C stays the caller's to
// see, and need little stack.
#pragma once

#include <cstddef>
#include <pthread.h>
#include <vector>

// Starts up to count threads running run(arg); those that could be started.
std::vector<pthread_t> StartQuietThreads(int count, std::size_t stack, void* (*run)(void*), void* arg);
