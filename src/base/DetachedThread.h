#pragma once

#include <functional>

// Runs work once on a detached thread that owns it. When the system refuses a thread,
// work runs on the calling thread instead: late, but never lost, so whoever waits for
// its result still gets one.
void RunDetached(std::function<void()> work);
