#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/CaptureFormat.h"
#include "audio/DeviceChoice.h"
#include "encoder/EncoderConfig.h"
#include "icecast/IcecastConfig.h"
#include "audio/ProcessingParams.h"

class ProgramSource;

// The engine's input: the stream-related part of the application's settings.
struct EngineConfig {
    CaptureFormat captureFormat;
    EncoderConfig encoder;
    IcecastConfig server;
    ProcessingParams processing;
    DeviceChoice device;
    // A playout program's text file whose first line is the stream's title; "" for the
    // stream name alone.
    std::string titleFile;
    // The server port as the settings hold it, before it is narrowed into server.port;
    // 0 when none is given. Outside 1..65535 the start is refused (ServerPortProblem),
    // so that a hand-written 99999 never connects to some other port.
    int64_t configuredPort = 0;
    // The settings' serverType and streamId as written, when server could not take them
    // (an unknown type, a stream id outside 1..65535); "" when it did. The start is then
    // refused (ServerTypeProblem) rather than streaming to a server of another kind.
    std::string serverTypeProblem;
    // Dead-air alarm: seconds of sound below the threshold before it sounds (0 turns it
    // off), and the threshold in whole dBFS.
    int32_t silenceSeconds = 20;
    int32_t silenceThresholdDb = -50;
    // Archive recording: on or off, the folder (UTF-8, resolved: never empty while on)
    // and the minutes of sound per file (0: one file per connection).
    bool recordEnabled = false;
    std::string recordFolder;
    int32_t recordSplitMinutes = 60;
    // The program a session of several outputs shares; null for the only output, whose
    // engine makes its own from the fields above.
    std::shared_ptr<ProgramSource> sharedProgram;
    // Which output this is, 1 for the first (the [Icecast] and [Encoder] settings); the
    // log names the server of every output when there are several.
    int32_t outputNumber = 1;
};
