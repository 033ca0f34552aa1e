#include "encoder/Mp3Encoder.h"

#include <algorithm>
#include <cstring>

#include <lame/lame.h>

#include "base/Log.h"
#include "encoder/FrameHeaders.h"

namespace {

// The library's worst case for n samples per channel, as its header documents it.
size_t OutputBound(size_t samplesPerChannel)
{
    return samplesPerChannel + samplesPerChannel / 4 + 7200;
}

// The largest block handed to the library at once, so that the output buffer is sized
// once in Open and never grows on the audio thread.
constexpr size_t kMaxBlockSamples = 8192; // per channel

bool Mpeg1Bitrate(uint32_t bitrate)
{
    static constexpr uint32_t kKbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    return bitrate % 1000 == 0 && std::find(std::begin(kKbps), std::end(kKbps), bitrate / 1000) != std::end(kKbps);
}

} // namespace

Mp3Encoder::~Mp3Encoder()
{
    Close();
}

bool Mp3Encoder::Open(const EncoderConfig& newConfig)
{
    if (lame != nullptr) {
        error = "The encoder is already open";
        return false;
    }
    config = newConfig;
    error.clear();
    const uint32_t rate = config.sampleRate;
    if (rate != 32000 && rate != 44100 && rate != 48000) {
        error = "MP3 needs a stream rate of 32000, 44100 or 48000 Hz, not " + std::to_string(rate);
        return false;
    }
    if (!Mpeg1Bitrate(config.bitrate)) {
        error = "MP3 needs a bit rate of 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256 or 320 kbit/s, not " +
                std::to_string(config.bitrate) + " bit/s";
        return false;
    }
    const bool mono = config.channels == 1;
    lame_t gf = lame_init();
    if (gf == nullptr) {
        error = "lame_init failed";
        return false;
    }
    lame_set_in_samplerate(gf, static_cast<int>(rate));
    lame_set_out_samplerate(gf, static_cast<int>(rate));
    lame_set_num_channels(gf, mono ? 1 : 2);
    lame_set_mode(gf, mono ? MONO : JOINT_STEREO);
    lame_set_VBR(gf, vbr_off);
    lame_set_brate(gf, static_cast<int>(config.bitrate / 1000));
    lame_set_quality(gf, 3);
    // Plain frames: no Xing/Info frame at the start, no ID3 tag anywhere.
    lame_set_bWriteVbrTag(gf, 0);
    lame_set_write_id3tag_automatic(gf, 0);
    const int status = lame_init_params(gf);
    if (status < 0) {
        error = "lame_init_params refused " + std::to_string(rate) + " Hz, " + std::to_string(config.bitrate) +
                " bit/s: " + std::to_string(status);
        lame_close(gf);
        return false;
    }
    lame = gf;
    finished = false;
    outputBuffer.assign(OutputBound(kMaxBlockSamples), 0);
    pending.clear();
    pending.reserve(outputBuffer.size() * 2);
    left.assign(mono ? kMaxBlockSamples : 0, 0);
    LogLine("Encoder", "LAME initialized: MP3, " + std::to_string(config.bitrate / 1000) + "kbps, " +
                           std::to_string(rate) + " Hz, " + (mono ? "mono" : "joint stereo"));
    return true;
}

bool Mp3Encoder::Encode(const int16_t* samples, uint64_t byteCount, FrameSink sink)
{
    if (lame == nullptr || finished || samples == nullptr || byteCount == 0)
        return false;
    const size_t channels = config.channels == 1 ? 1 : 2;
    size_t frames = static_cast<size_t>(byteCount / 2) / channels;
    while (frames > 0) {
        const size_t n = std::min(frames, kMaxBlockSamples);
        int written = 0;
        if (channels == 2) {
            written = lame_encode_buffer_interleaved(lame, const_cast<short*>(samples), static_cast<int>(n),
                                                     outputBuffer.data(), static_cast<int>(outputBuffer.size()));
        } else {
            std::copy(samples, samples + n, left.begin());
            written = lame_encode_buffer(lame, left.data(), nullptr, static_cast<int>(n), outputBuffer.data(),
                                         static_cast<int>(outputBuffer.size()));
        }
        if (written < 0) {
            LogLine("Encoder", "lame_encode_buffer failed: " + std::to_string(written));
            return false;
        }
        pending.insert(pending.end(), outputBuffer.begin(), outputBuffer.begin() + written);
        HandOutFrames(sink);
        samples += n * channels;
        frames -= n;
    }
    return true;
}

void Mp3Encoder::Flush(FrameSink sink)
{
    if (lame == nullptr || finished)
        return;
    finished = true;
    const int written = lame_encode_flush(lame, outputBuffer.data(), static_cast<int>(outputBuffer.size()));
    if (written > 0)
        pending.insert(pending.end(), outputBuffer.begin(), outputBuffer.begin() + written);
    HandOutFrames(sink);
    // Whatever is left is no whole frame; it goes out as it is, so nothing is lost.
    if (!pending.empty() && sink)
        sink(pending.data(), pending.size());
    pending.clear();
}

void Mp3Encoder::HandOutFrames(const FrameSink& sink)
{
    size_t offset = 0;
    while (offset < pending.size()) {
        const std::optional<MpegFrameHeader> header = ReadMpegHeader(pending.data() + offset, pending.size() - offset);
        if (!header) {
            if (pending.size() - offset < 4)
                break;
            // Never from this library; skipped a byte at a time until a frame starts.
            ++offset;
            continue;
        }
        if (header->bytes > pending.size() - offset)
            break;
        if (sink)
            sink(pending.data() + offset, header->bytes);
        offset += header->bytes;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(offset));
}

void Mp3Encoder::Close()
{
    if (lame != nullptr)
        lame_close(lame);
    lame = nullptr;
    finished = false;
    std::vector<uint8_t>().swap(outputBuffer);
    std::vector<uint8_t>().swap(pending);
    std::vector<int16_t>().swap(left);
}
