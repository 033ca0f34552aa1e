#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/EngineState.h"
#include "engine/StatusTexts.h"
#include "engine/StreamSupervisor.h"

// How the outputs of a session stand, for the front ends' indicators and lines. Engine
// is StreamEngine in the product.

// On air: streaming, and supervision knows it.
template <class Engine>
bool OutputOnAir(const StreamSupervisor<Engine>& supervisor)
{
    const Engine* engine = supervisor.CurrentEngine();
    return supervisor.state.streamingActive && engine && engine->GetState() == EngineState::Streaming;
}

// May still come on air by itself: on air, connecting, or counting down to its next
// attempt.
template <class Engine>
bool OutputAlive(const StreamSupervisor<Engine>& supervisor)
{
    return OutputOnAir(supervisor) || supervisor.state.attemptRunning || supervisor.state.reconnectCountdown > 0;
}

// One output's state in a word or two: "on air", "connecting", "retry 4s" (the seconds
// to its next attempt), "off".
template <class Engine>
std::string OutputStateText(const StreamSupervisor<Engine>& supervisor)
{
    const SupervisionState& s = supervisor.state;
    if (OutputOnAir(supervisor))
        return "on air";
    if (s.attemptRunning)
        return "connecting";
    if (s.reconnectCountdown > 0)
        return "retry " + std::to_string((s.reconnectCountdown + 9) / 10) + "s";
    return "off";
}

// The encoder indicator for a session of outputs outputs, onAir of them on air: the
// first output's own (first) while every one is on air or none is, else
// "2 of 3 on air" in yellow.
inline Indicator OutputsIndicator(const Indicator& first, size_t onAir, size_t outputs)
{
    if (outputs < 2 || onAir == 0 || onAir == outputs)
        return first;
    return {std::to_string(onAir) + " of " + std::to_string(outputs) + " on air", IndicatorColour::Yellow};
}
