#include "base/DetachedWorker.h"

#include <latch>
#include <memory>
#include <system_error>
#include <thread>

bool StartDetachedWorker(std::function<void()> work, const std::function<void()>& unstarted)
{
    // The worker ends only once it is detached. A worker that finished (an address that
    // cannot be used answers at once) while its creator was still detaching it left the
    // Windows thread library's heap damaged, and another thread crashed later.
    const auto detached = std::make_shared<std::latch>(1);
    try {
        std::thread([work = std::move(work), detached] {
            work();
            detached->wait();
        }).detach();
    } catch (const std::system_error&) {
        if (unstarted)
            unstarted();
        return false;
    }
    detached->count_down();
    return true;
}
