#include <cstdio>
#include <string>

#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "icecast/ShoutcastProtocol.h"

namespace {

void PrintValue(const char* name, const std::string& value)
{
    std::printf("%s=%s\n", name, value.c_str());
}

void PrintValue(const char* name, bool value)
{
    std::printf("%s=%s\n", name, value ? "true" : "false");
}

void PrintValue(const char* name, long long value)
{
    std::printf("%s=%lld\n", name, value);
}

void PrintValue(const char* name, float value, int decimals = 1)
{
    std::printf("%s=%.*f\n", name, decimals, static_cast<double>(value));
}

void PrintProcessing(const ProcessingParams& p)
{
    PrintValue("hpfEnabled", p.hpfEnabled);
    PrintValue("gateEnabled", p.gateEnabled);
    PrintValue("gainEnabled", p.gainEnabled);
    PrintValue("gainDb", p.gainDb);
    PrintValue("agcEnabled", p.agcEnabled);
    PrintValue("agcTargetDb", p.agcTargetDb);
    PrintValue("agcMaxGainDb", p.agcMaxGainDb);
    PrintValue("agcSpeed", p.agcSpeed, 4);
    PrintValue("compEnabled", p.compEnabled);
    PrintValue("compThreshDb", p.compThreshDb);
    PrintValue("compRatio", p.compRatio);
    PrintValue("compAttackMs", p.compAttackMs);
    PrintValue("compReleaseMs", p.compReleaseMs);
    PrintValue("compMakeupDb", p.compMakeupDb);
    PrintValue("boostEnabled", p.boostEnabled);
    PrintValue("bassEnabled", p.bassEnabled);
    PrintValue("stereoWidthEnabled", p.stereoWidthEnabled);
    PrintValue("limiterEnabled", p.limiterEnabled);
    PrintValue("codecPreEnabled", p.codecPreEnabled);
    PrintValue("codecBitrate", static_cast<long long>(p.codecBitrate));
    PrintValue("codecHeVersion", static_cast<long long>(p.codecHeVersion));
    PrintValue("mono", p.mono);
    PrintValue("loudnessEnabled", p.loudnessEnabled);
    PrintValue("loudnessTarget", p.loudnessTarget);
    PrintValue("loudnessMaxGainDb", p.loudnessMaxGainDb);
    PrintValue("truePeakEnabled", p.truePeakEnabled);
    PrintValue("truePeakCeilingDb", p.truePeakCeilingDb);
}

} // namespace

// Prints the resolved settings, one name=value per line. The password never appears.
int RunSettingsCommand(const std::vector<std::string>& arguments)
{
    std::vector<std::string> args = arguments;
    std::string dir;
    std::string error;
    if (!TakeConfigOption(args, dir, error)) {
        PrintError(error);
        return kExitUsage;
    }
    if (!args.empty()) {
        PrintError("unexpected argument: " + args.front());
        return kExitUsage;
    }

    SettingsStore store;
    AppSettings settings;
    LoadConfiguredSettings(dir, store, settings);

    const EngineConfig& s = settings.stream;
    PrintValue("sampleRate", static_cast<long long>(s.captureFormat.sampleRate));
    PrintValue("channels", static_cast<long long>(s.captureFormat.channels));
    PrintValue("bitrate", static_cast<long long>(s.encoder.bitrate));
    PrintValue("heVersion", static_cast<long long>(StoredHeVersion(s.encoder.profile)));
    PrintValue("host", s.server.host);
    // As written: a port outside 1..65535 shows as such, not as its low 16 bits.
    PrintValue("port", static_cast<long long>(s.configuredPort));
    PrintValue("mountPoint", s.server.mountPoint);
    PrintValue("username", s.server.username);
    PrintValue("streamName", s.server.streamName);
    PrintValue("streamGenre", s.server.streamGenre);
    PrintValue("isPublic", s.server.isPublic);
    PrintValue("tlsEnabled", s.server.tls.enabled);
    PrintValue("tlsCaFile", s.server.tls.caFile);
    PrintValue("tlsFingerprint", s.server.tls.fingerprint);
    PrintValue("titleFile", s.titleFile);
    PrintValue("serverType", ServerTypeName(s.server.serverType));
    PrintValue("streamId", static_cast<long long>(s.server.streamId));
    PrintValue("contentCode", static_cast<long long>(s.server.contentCode));
    PrintValue("streamBitrate", static_cast<long long>(s.server.streamBitrate));
    PrintValue("streamSampleRate", static_cast<long long>(s.server.streamSampleRate));
    PrintValue("streamChannels", static_cast<long long>(s.server.streamChannels));
    PrintValue("deviceIndex", static_cast<long long>(s.device.position));
    PrintValue("deviceEndpointId", s.device.endpointId);
    PrintValue("inputDeviceName", settings.inputDeviceName);
    PrintValue("statusAddress", settings.statusAddress);
    PrintValue("persistentEncoding", settings.persistentEncoding);
    PrintValue("minimizeToTray", settings.minimizeToTray);
    PrintValue("silenceSeconds", static_cast<long long>(s.silenceSeconds));
    PrintValue("silenceThresholdDb", static_cast<long long>(s.silenceThresholdDb));
    PrintValue("recordEnabled", s.recordEnabled);
    // As stored: the default, "", follows the settings file wherever it is copied.
    PrintValue("recordFolder", store.GetString("System", "recordFolder", ""));
    PrintValue("recordSplitMinutes", static_cast<long long>(s.recordSplitMinutes));
    PrintProcessing(s.processing);
    return kExitOk;
}
