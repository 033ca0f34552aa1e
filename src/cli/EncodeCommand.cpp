#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/ExecutablePath.h"
#include "audio/OfflineProcessor.h"
#include "audio/WavFile.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "encoder/AacEncoder.h"

namespace {

constexpr size_t kReadFrames = 4800;

void RemoveQuietly(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove(Utf8Path(path), ignored);
}

struct EncodeTotals {
    uint64_t frames = 0;
    uint64_t bytes = 0;
};

// Runs the whole recording through the processor and the encoder into an ADTS file at
// path, ending with the zero-padded last frame.
bool WriteEncoded(WavReader& reader, OfflineProcessor& processor, AacEncoder& encoder, const std::string& path,
                  EncodeTotals& totals, std::string& error)
{
    std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot create the file";
        return false;
    }
    const FrameSink frameSink = [&out, &totals](const uint8_t* data, uint64_t size) {
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        ++totals.frames;
        totals.bytes += size;
    };
    bool encoded = true;
    const OfflineBlockSink blockSink = [&](const int16_t* samples, size_t count) {
        encoded = encoder.Encode(samples, count * sizeof(int16_t), frameSink);
        return encoded && out.good();
    };
    std::vector<int16_t> input;
    bool ok = true;
    for (;;) {
        if (!reader.Read(kReadFrames, input)) {
            error = reader.LastError();
            return false;
        }
        if (input.empty())
            break;
        if (!(ok = processor.Push(input.data(), input.size() / reader.Channels(), blockSink)))
            break;
    }
    ok = ok && processor.Finish(blockSink);
    if (ok)
        encoder.Flush(frameSink);
    out.close();
    if (!encoded) {
        error = "the AAC encoder failed on a frame";
        return false;
    }
    if (!ok || out.fail()) {
        error = "cannot write the file";
        return false;
    }
    return true;
}

} // namespace

// Runs a 16-bit WAV recording along the stream path (channel mapping, processing,
// resampling) and encodes it with the stored profile and bitrate into an ADTS file.
// OUT is replaced only when everything worked.
int RunEncodeCommand(const std::vector<std::string>& arguments)
{
    std::vector<std::string> args = arguments;
    std::string dir;
    std::string error;
    if (!TakeConfigOption(args, dir, error)) {
        PrintError(error);
        return kExitUsage;
    }
    if (args.size() != 2) {
        PrintError("usage: encode [--config DIR] IN.wav OUT.aac");
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

    EncoderConfig config = settings.stream.encoder;
    config.sampleRate = processor.OutputRate();
    config.channels = processor.OutputChannels();
    AacEncoder encoder;
    if (!encoder.Open(config)) {
        PrintError("Failed to initialize AAC encoder (" + std::string(ProfileName(config.heVersion)) + ", " +
                   std::to_string(config.sampleRate) + " Hz, " + std::to_string(config.channels) + " channels, " +
                   std::to_string(config.bitrate) + " bit/s)");
        return kExitUsage;
    }

    const std::string tempPath = outPath + ".part";
    EncodeTotals totals;
    if (!WriteEncoded(reader, processor, encoder, tempPath, totals, error)) {
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

    std::printf("profile=%s\nsampleRate=%u\nchannels=%u\nbitrate=%u\nframes=%llu\nbytes=%llu\n",
                ProfileName(config.heVersion), config.sampleRate, static_cast<unsigned>(config.channels),
                config.bitrate, static_cast<unsigned long long>(totals.frames),
                static_cast<unsigned long long>(totals.bytes));
    return kExitOk;
}
