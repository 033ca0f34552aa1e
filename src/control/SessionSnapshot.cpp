#include "control/SessionSnapshot.h"

#include "engine/OutputStates.h"
#include "settings/AppSettings.h"

namespace {

const char* RecordingText(RecordingState state)
{
    switch (state) {
    case RecordingState::On:
        return "on";
    case RecordingState::Stopped:
        return "stopped";
    case RecordingState::Off:
        break;
    }
    return "off";
}

OutputSnapshot OutputOf(const SessionOutput& output)
{
    const StreamSupervisor<StreamEngine>& supervisor = *output.supervisor;
    const SupervisionState& s = supervisor.state;
    OutputSnapshot o;
    o.number = output.number;
    o.name = OutputName(*output.stream);
    o.mount = output.stream->server.mountPoint;
    o.state = OutputStateText(supervisor);
    o.status = s.statusText;
    o.up = OutputAlive(supervisor);
    o.connected = OutputOnAir(supervisor);
    if (const StreamEngine* engine = supervisor.CurrentEngine()) {
        const StreamStats stats = engine->GetStats();
        o.bytesSent = stats.bytesSent;
        o.secondsOnAir = stats.elapsedSeconds;
        o.inStreamTitle = engine->InStreamTitleSender();
    }
    o.reconnects = s.reconnects;
    o.listeners = s.listeners;
    o.title = s.streamTitle;
    o.server = output.stream->server;
    o.configuredPort = output.stream->configuredPort;
    o.serverTypeProblem = output.stream->serverTypeProblem;
    return o;
}

} // namespace

ControlSnapshot TakeSessionSnapshot(const std::vector<SessionOutput>& outputs, const MeterLevels& levels,
                                    const StreamEngine* meterEngine)
{
    ControlSnapshot snapshot;
    bool countingDown = false;
    for (const SessionOutput& output : outputs) {
        snapshot.outputs.push_back(OutputOf(output));
        const SupervisionState& s = output.supervisor->state;
        snapshot.attemptsRunning = snapshot.attemptsRunning || s.attemptRunning;
        snapshot.deadAir = snapshot.deadAir || s.deadAir;
        countingDown = countingDown || s.reconnectCountdown > 0;
    }
    if (snapshot.OnAir() > 0)
        snapshot.state = "online";
    else if (snapshot.attemptsRunning)
        snapshot.state = "connecting";
    else if (countingDown)
        snapshot.state = "reconnecting";
    else if (!outputs.empty() && outputs.front().supervisor->state.phase == StreamPhase::Offline)
        snapshot.state = "offline";
    else
        snapshot.state = "idle";
    snapshot.levelLeft = levels.left;
    snapshot.levelRight = levels.right;
    // The first output's archive; its engine may be gone while another output streams.
    const StreamEngine* first = outputs.empty() ? nullptr : outputs.front().supervisor->CurrentEngine();
    const StreamEngine* archive = first ? first : meterEngine;
    if (archive) {
        snapshot.recording = RecordingText(archive->Recording());
        const ArchiveProgress progress = archive->RecordingProgress();
        snapshot.recordingFile = progress.file;
        snapshot.recordingBytes = progress.bytesWritten;
        snapshot.recordingProblem = archive->RecordingProblem();
    }
    if (meterEngine && meterEngine->GetState() == EngineState::Streaming) {
        const LoudnessReading loudness = meterEngine->Loudness();
        snapshot.loudnessMeasured = true;
        snapshot.shortTermLufs = loudness.shortTermLufs;
        snapshot.integratedLufs = loudness.integratedLufs;
        snapshot.truePeakDb = loudness.truePeakDb;
    }
    return snapshot;
}
