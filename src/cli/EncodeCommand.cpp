#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "base/ExecutablePath.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/OfflineJob.h"
#include "encoder/StreamEncoder.h"

namespace {

struct EncodeTotals {
    uint64_t frames = 0;
    uint64_t bytes = 0;
};

// Runs the whole recording through the processor and the encoder into a file at path
// (ADTS, MPEG audio frames or Ogg Opus), ending with the zero-padded last frame.
bool WriteEncoded(OfflineJob& job, StreamEncoder& encoder, const std::string& path, EncodeTotals& totals,
                  std::string& error)
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
    const bool ok = RunOfflineJob(job, blockSink, error);
    if (!ok && !error.empty())
        return false;
    if (ok)
        encoder.Flush(frameSink);
    out.close();
    if (!encoded) {
        error = std::string("the ") + CodecName(encoder.OpenCodec()) + " encoder failed on a frame";
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
// resampling) and encodes it with the stored codec, profile and bitrate into a file as
// the stream carries it: ADTS, MP3 frames or Ogg Opus.
// OUT is replaced only when everything worked.
int RunEncodeCommand(const std::vector<std::string>& arguments)
{
    OfflineJob job;
    int status = kExitOk;
    if (!OpenOfflineJob(arguments, "encode [--config DIR] IN.wav OUT.aac", job, status))
        return status;

    EncoderConfig config = job.settings.stream.encoder;
    config.sampleRate = job.processor->OutputRate();
    config.channels = job.processor->OutputChannels();
    StreamEncoder encoder;
    if (!encoder.Open(config)) {
        const std::string format = config.codec == Codec::Aac ? ProfileName(config.profile) : CodecName(config.codec);
        PrintError(std::string("Failed to initialize ") + CodecName(config.codec) + " encoder (" + format + ", " +
                   std::to_string(config.sampleRate) + " Hz, " + std::to_string(config.channels) + " channels, " +
                   std::to_string(config.bitrate) + " bit/s): " + encoder.LastError());
        return kExitUsage;
    }

    EncodeTotals totals;
    status = ReplaceOutput(job, [&](const std::string& path, std::string& error) {
        return WriteEncoded(job, encoder, path, totals, error);
    });
    if (status != kExitOk)
        return status;

    std::printf("profile=%s\nsampleRate=%u\nchannels=%u\nbitrate=%u\nframes=%llu\nbytes=%llu\n",
                encoder.FormatName(), config.sampleRate, static_cast<unsigned>(config.channels),
                config.bitrate, static_cast<unsigned long long>(totals.frames),
                static_cast<unsigned long long>(totals.bytes));
    PrintOutputLoudness(job);
    return kExitOk;
}
