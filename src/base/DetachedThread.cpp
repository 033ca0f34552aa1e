#include "base/DetachedThread.h"

#include <system_error>
#include <thread>

#include "base/Log.h"

void RunDetached(std::function<void()> work)
{
    try {
        std::thread(work).detach();
    } catch (const std::system_error& e) {
        LogLine("Thread", std::string("no thread for background work, running it here: ") + e.what());
        work();
    }
}
