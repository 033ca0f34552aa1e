#include "base/DetachedWorker.h"

#include <system_error>
#include <thread>

bool StartDetachedWorker(std::function<void()> work, const std::function<void()>& unstarted)
{
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        if (unstarted)
            unstarted();
        return false;
    }
}
