#include "icecast/SendQueue.h"

#include <algorithm>
#include <chrono>
#include <cstring>

SendQueue::SendQueue(uint64_t capacityBytes)
    : storage(new uint8_t[capacityBytes]()), capacity(capacityBytes)
{
}

bool SendQueue::Write(const uint8_t* data, uint64_t size)
{
    if (size == 0)
        return true;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (size > capacity - count)
            return false;
        const uint64_t first = std::min(size, capacity - writeIndex);
        std::memcpy(storage.get() + writeIndex, data, static_cast<size_t>(first));
        std::memcpy(storage.get(), data + first, static_cast<size_t>(size - first));
        writeIndex = (writeIndex + size) % capacity;
        count += size;
        // A consumer sitting out its window takes these with the rest when it ends.
        if (gatheringFor != 0 && count < gatheringFor)
            return true;
    }
    dataReady.notify_one();
    return true;
}

uint64_t SendQueue::Take(uint8_t* destination, uint64_t max)
{
    std::unique_lock<std::mutex> guard(lock);
    if (gathering.count() > 0 && max > 0 && !closed && count < max && Clock::now() < lastTake + gathering) {
        gatheringFor = max;
        dataReady.wait_until(guard, lastTake + gathering, [this, max] { return closed || count >= max; });
        gatheringFor = 0;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTakeWaitMs);
    dataReady.wait_until(guard, deadline, [this] { return count > 0 || closed; });
    const uint64_t n = std::min(count, max);
    if (n == 0)
        return 0;
    if (gathering.count() > 0)
        lastTake = Clock::now();
    const uint64_t first = std::min(n, capacity - readIndex);
    std::memcpy(destination, storage.get() + readIndex, static_cast<size_t>(first));
    std::memcpy(destination + first, storage.get(), static_cast<size_t>(n - first));
    readIndex = (readIndex + n) % capacity;
    count -= n;
    return n;
}

void SendQueue::SetGathering(Clock::duration window)
{
    std::lock_guard<std::mutex> guard(lock);
    gathering = window;
    lastTake = {};
}

void SendQueue::Reset()
{
    std::lock_guard<std::mutex> guard(lock);
    readIndex = writeIndex = count = 0;
    closed = false;
}

void SendQueue::Close()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        closed = true;
    }
    dataReady.notify_all();
}

bool SendQueue::IsClosedAndEmpty() const
{
    std::lock_guard<std::mutex> guard(lock);
    return closed && count == 0;
}

uint64_t SendQueue::Count() const
{
    std::lock_guard<std::mutex> guard(lock);
    return count;
}
