#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

// Byte ring between the audio thread, which appends whole ADTS frames, and the sender
// thread, which takes chunks for the socket. The producer never waits: a frame that
// does not fit is refused whole. The consumer waits in bounded steps so that it can
// notice a stop. The archive recorder keeps a larger one of its own.
class SendQueue {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr uint64_t kCapacity = 40960;
    static constexpr int kTakeWaitMs = 50;

    explicit SendQueue(uint64_t capacityBytes = kCapacity);
    SendQueue(const SendQueue&) = delete;
    SendQueue& operator=(const SendQueue&) = delete;

    // Appends all size bytes or none; size 0 succeeds without touching the queue.
    bool Write(const uint8_t* data, uint64_t size);
    // Moves up to max bytes into destination, waiting at most 50 ms for data. 0 when
    // nothing arrived in time or the queue is closed and empty. With a gathering
    // window, a take that comes sooner than the window after the last one first waits
    // for the rest of it (or for max bytes, or the close), so what arrives meanwhile
    // leaves in one piece.
    uint64_t Take(uint8_t* destination, uint64_t max);
    // Each wake-up of the consumer and each write to the socket costs more than a small
    // frame's bytes: with a window (0: none, the default), the consumer takes at most
    // once per window while data keeps coming, and the producer does not wake it
    // meanwhile. The first bytes after a quiet spell still leave at once.
    void SetGathering(Clock::duration window);
    // Empties the queue and opens it again.
    void Reset();
    // Marks the end of production and wakes every waiting consumer.
    void Close();
    bool IsClosedAndEmpty() const;
    uint64_t Count() const;

private:
    std::unique_ptr<uint8_t[]> storage;
    uint64_t capacity;
    uint64_t readIndex = 0;
    uint64_t writeIndex = 0;
    uint64_t count = 0;
    bool closed = false;
    Clock::duration gathering{0};
    Clock::time_point lastTake;
    // While the consumer sits out a window: the bytes that end it early.
    uint64_t gatheringFor = 0;
    mutable std::mutex lock;
    std::condition_variable dataReady;
};
