#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "engine/EngineConfig.h"

// One connection attempt on its way back from its thread to the supervising thread. The
// record owns the attempt's engine: whoever holds the record last destroys the engine.
template <class Engine>
struct ConnectionAttempt {
    uint64_t generation = 0;
    bool reconnection = false;
    bool initialized = false;
    std::unique_ptr<Engine> engine;
};

// The work of one attempt, run once on a thread of its own: the engine's Initialize (the
// handshake and the title update, which may block for many seconds). It returns the
// finished attempt for StreamSupervisor::OnAttemptResult, or null when the attempt was
// abandoned meanwhile; an abandoned attempt stops and frees its engine itself, so no
// supervising thread ever waits for a handshake.
template <class Engine>
class AttemptJob {
public:
    AttemptJob(std::unique_ptr<ConnectionAttempt<Engine>> newAttempt, const EngineConfig& attemptConfig,
               std::shared_ptr<const std::atomic<uint64_t>> generation)
        : attempt(std::move(newAttempt)), config(attemptConfig), currentGeneration(std::move(generation))
    {
    }

    std::unique_ptr<ConnectionAttempt<Engine>> operator()()
    {
        if (!attempt || Abandoned())
            return Abandon();
        attempt->initialized = attempt->engine->Initialize(config);
        if (Abandoned())
            return Abandon();
        return std::move(attempt);
    }

private:
    bool Abandoned() const { return currentGeneration->load() != attempt->generation; }
    std::unique_ptr<ConnectionAttempt<Engine>> Abandon()
    {
        if (attempt && attempt->engine)
            attempt->engine->Stop();
        attempt.reset();
        return nullptr;
    }

    std::unique_ptr<ConnectionAttempt<Engine>> attempt;
    EngineConfig config;
    std::shared_ptr<const std::atomic<uint64_t>> currentGeneration;
};
