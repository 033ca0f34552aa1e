#pragma once

#include <functional>

// Runs work on a thread of its own that nobody joins (a poll, a probe, a connection
// test). When no thread can be started, unstarted runs at once on the caller's thread so
// that the caller still hears an answer, and the result is false.
bool StartDetachedWorker(std::function<void()> work, const std::function<void()>& unstarted);
