#pragma once

#include <string>
#include <vector>

#include "audio/DeviceList.h"
#include "engine/EngineConfig.h"
#include "settings/SettingsStore.h"

// The typed settings the engine, the status poller and the front ends read. The
// engine configuration is its stream-related part.
struct AppSettings {
    EngineConfig stream; // captureFormat, encoder, server, processing, deviceIndex, deviceEndpointId
    std::string inputDeviceName;
    std::string statusAddress; // "host:port-5/mount", or "" for no status polling
    bool persistentEncoding = false;
    bool minimizeToTray = false;
};

// Copies the stored values into settings, resolving the input device against devices;
// defaultId is the identifier of the system's default capture endpoint ("" unknown).
void ApplyStoredSettings(const SettingsStore& store, AppSettings& settings,
                         const std::vector<AudioDeviceInfo>& devices, const std::string& defaultId = "");

// The same against a fresh list of the capture devices and the current default.
void ApplyStoredSettings(const SettingsStore& store, AppSettings& settings);

// Compressor attack and release derived from its threshold.
void DeriveCompressorTiming(ProcessingParams& params);

// "host:port-5" plus the mount point with a leading "/", or "" when host is empty or
// port is 5 or less.
std::string MakeStatusAddress(const std::string& host, uint16_t port, const std::string& mountPoint);

// Name shown for the default input device: "(Default)", plus " - " and the name of the
// device whose identifier is defaultId, the endpoint the default rule opens (the first
// device's name when defaultId is empty or not listed).
std::string DefaultDeviceName(const std::vector<AudioDeviceInfo>& devices, const std::string& defaultId = "");
