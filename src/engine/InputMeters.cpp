#include "engine/InputMeters.h"

#include <string>

#include "base/Log.h"

namespace {

bool Streaming(const StreamEngine* engine)
{
    return engine && engine->GetState() == EngineState::Streaming;
}

} // namespace

MeterLevels CurrentMeterLevels(const StreamEngine* engine, const InputLevelMonitor& monitor)
{
    if (Streaming(engine)) {
        const StreamStats stats = engine->GetStats();
        return {stats.levelLeft, stats.levelRight};
    }
    return {monitor.leftLevel.load(), monitor.rightLevel.load()};
}

void KeepInputMonitor(InputLevelMonitor& monitor, const EngineConfig& config, const StreamEngine* engine)
{
    const bool streaming = Streaming(engine);
    if (!streaming && !monitor.Running()) {
        monitor.SetParams(config.processing);
        const std::string previous = monitor.LastError();
        if (!monitor.Start(config.device) && monitor.LastError() != previous)
            LogLine("Audio", "Input level monitor: " + monitor.LastError());
    } else if (streaming && monitor.Running()) {
        monitor.Stop();
    }
}
