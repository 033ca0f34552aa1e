#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/ExecutablePath.h"
#include "audio/OfflineProcessor.h"
#include "audio/WavFile.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"

namespace {

constexpr size_t kReadFrames = 4800;

void RemoveQuietly(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove(Utf8Path(path), ignored);
}

// Runs the whole recording through the processor into a WAV file at path.
bool WriteProcessed(WavReader& reader, OfflineProcessor& processor, const std::string& path, std::string& error)
{
    WavWriter writer;
    if (!writer.Open(path, processor.OutputRate(), processor.OutputChannels())) {
        error = writer.LastError();
        return false;
    }
    const OfflineBlockSink sink = [&writer](const int16_t* samples, size_t count) {
        return writer.Write(samples, count);
    };
    std::vector<int16_t> input;
    for (;;) {
        if (!reader.Read(kReadFrames, input)) {
            error = reader.LastError();
            return false;
        }
        if (input.empty())
            break;
        if (!processor.Push(input.data(), input.size() / reader.Channels(), sink)) {
            error = writer.LastError();
            return false;
        }
    }
    if (!processor.Finish(sink) || !writer.Close()) {
        error = writer.LastError();
        return false;
    }
    return true;
}

} // namespace

// Runs a 16-bit WAV recording through the stored processing settings the way a stream
// would hear it, and writes the result. OUT is replaced only when everything worked.
int RunProcessCommand(const std::vector<std::string>& arguments)
{
    std::vector<std::string> args = arguments;
    std::string dir;
    std::string error;
    if (!TakeConfigOption(args, dir, error)) {
        PrintError(error);
        return kExitUsage;
    }
    if (args.size() != 2) {
        PrintError("usage: process [--config DIR] IN.wav OUT.wav");
        return kExitUsage;
    }
    const std::string& inPath = args[0];
    const std::string& outPath = args[1];

    WavReader reader;
    if (!reader.Open(inPath)) {
        PrintError(inPath + ": " + reader.LastError());
        return kExitUsage;
    }

    SettingsStore store;
    AppSettings settings;
    LoadConfiguredSettings(dir, store, settings);
    OfflineSetup setup;
    setup.inputRate = reader.SampleRate();
    setup.inputChannels = reader.Channels();
    setup.streamRate = settings.stream.captureFormat.sampleRate;
    setup.streamChannels = settings.stream.captureFormat.channels;
    setup.processing = settings.stream.processing;
    OfflineProcessor processor(setup);

    const std::string tempPath = outPath + ".part";
    if (!WriteProcessed(reader, processor, tempPath, error)) {
        RemoveQuietly(tempPath);
        PrintError(outPath + ": " + error);
        return kExitFailure;
    }
    std::error_code ec;
    std::filesystem::rename(Utf8Path(tempPath), Utf8Path(outPath), ec);
    if (ec) {
        RemoveQuietly(tempPath);
        PrintError(outPath + ": cannot replace the file: " + ec.message());
        return kExitFailure;
    }

    const ProcessingMeters meters = processor.Meters();
    for (const MeterField& field : kMeterFields)
        std::printf("%s=%.4f\n", field.name, static_cast<double>(meters.*field.member));
    return kExitOk;
}
