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
    }
    dataReady.notify_one();
    return true;
}

uint64_t SendQueue::Take(uint8_t* destination, uint64_t max)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTakeWaitMs);
    std::unique_lock<std::mutex> guard(lock);
    dataReady.wait_until(guard, deadline, [this] { return count > 0 || closed; });
    const uint64_t n = std::min(count, max);
    if (n == 0)
        return 0;
    const uint64_t first = std::min(n, capacity - readIndex);
    std::memcpy(destination, storage.get() + readIndex, static_cast<size_t>(first));
    std::memcpy(destination + first, storage.get(), static_cast<size_t>(n - first));
    readIndex = (readIndex + n) % capacity;
    count -= n;
    return n;
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
