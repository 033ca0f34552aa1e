#include "engine/InputMeters.h"

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
        monitor.Start(config.device);
    } else if (streaming && monitor.Running()) {
        monitor.Stop();
    }
}
