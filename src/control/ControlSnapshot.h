#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "icecast/IcecastConfig.h"

// The running encoder as the control interface reports it, taken on the thread that
// supervises the stream and handed to the interface's threads as a copy.

struct OutputSnapshot {
    size_t number = 1; // 1 for the first output ([Icecast]), 2.. for [OutputN]
    std::string name;  // "host:port/mount"
    std::string mount;
    std::string state;  // "on air", "connecting", "retry 4s", "off"
    std::string status; // the supervision's status line ("STREAMING", a failure's reason)
    bool up = false;        // on air, connecting or counting down to its next attempt
    bool connected = false; // on air
    uint64_t bytesSent = 0; // by the current connection
    uint32_t secondsOnAir = 0;
    uint32_t reconnects = 0;
    int32_t listeners = -1; // -1 unknown
    std::string title;      // as the server's status reports it
    // Where a title goes: the output's server and the port as configured.
    IcecastConfig server;
    int64_t configuredPort = 0;
    std::string serverTypeProblem; // EngineConfig's
    // The running engine's way of carrying a title in its stream (StreamEngine::
    // InStreamTitleSender); empty when the server's title update serves.
    std::function<bool(const std::string& title)> inStreamTitle;
};

struct ControlSnapshot {
    std::string state; // "idle", "connecting", "online", "reconnecting", "offline"
    bool attemptsRunning = false;
    std::vector<OutputSnapshot> outputs;
    // Peak levels, 0..1 of full scale.
    float levelLeft = 0.0f;
    float levelRight = 0.0f;
    // Measured only while a stream runs; -inf for silence.
    bool loudnessMeasured = false;
    float shortTermLufs = 0.0f;
    float integratedLufs = 0.0f;
    float truePeakDb = 0.0f;
    bool deadAir = false;
    std::string recording = "off"; // "off", "on", "stopped"
    std::string recordingFile;
    uint64_t recordingBytes = 0;
    std::string recordingProblem;

    size_t OnAir() const
    {
        size_t count = 0;
        for (const OutputSnapshot& output : outputs)
            count += output.connected ? 1 : 0;
        return count;
    }
};
