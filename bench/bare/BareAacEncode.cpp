// The encoder library with nothing around it: reads a 16-bit PCM WAV, encodes it with
// libfdk-aac directly, with the parameters the stream uses (ADTS, afterburner, constant
// bitrate; for HE-AAC dual-rate SBR with explicit signalling) and writes the ADTS bytes.
// With HE_VERSION "mp3" it encodes with libmp3lame (constant bitrate, joint stereo,
// quality 3, no tag) and writes the frames; with "opus" with libopus (20 ms frames, the
// audio application, constrained VBR) and writes the bare packets, no Ogg pages.
// stream_cost.sh times it beside the live stream, as the yardstick of what the encoding
// itself costs.
//
//   bare-aac-encode IN.wav OUT [HE_VERSION|mp3|opus [BITRATE]]   (defaults 1, 64000)
//
// With KV_FRAME_LOG set it also prints, per ADTS frame, how many input samples per
// channel had been fed when the frame came out (for the latency measurement).
#include <fdk-aac/aacenc_lib.h>
#include <lame/lame.h>
#include <opus/opus.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace {

uint32_t Le32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct Wav {
    uint32_t rate = 0;
    uint16_t channels = 0;
    std::vector<int16_t> samples;
};

bool ReadWav(const char* path, Wav& wav)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return false;
    bool haveFormat = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = Le32(bytes.data() + at + 4);
        const uint8_t* body = bytes.data() + at + 8;
        const size_t avail = std::min<size_t>(size, bytes.size() - at - 8);
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && avail >= 16) {
            wav.channels = Le16(body + 2);
            wav.rate = Le32(body + 4);
            haveFormat = Le16(body + 14) == 16;
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0 && haveFormat) {
            wav.samples.resize(avail / 2);
            std::memcpy(wav.samples.data(), body, wav.samples.size() * 2);
            return wav.channels > 0 && wav.rate > 0;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

bool Set(HANDLE_AACENCODER encoder, AACENC_PARAM param, UINT value)
{
    if (aacEncoder_SetParam(encoder, param, value) == AACENC_OK)
        return true;
    std::fprintf(stderr, "parameter 0x%x = %u refused\n", static_cast<unsigned>(param), value);
    return false;
}

// The live path's other threads, doing nothing but their waiting: a sender woken per
// frame that writes it out, and a 100 ms tick. Joined by the destructor.
class LivePattern {
public:
    explicit LivePattern(std::function<void(const uint8_t*, size_t)> writer) : sink(std::move(writer))
    {
        sender = std::thread([this] { Send(); });
        tick = std::thread([this] {
            auto due = std::chrono::steady_clock::now();
            while (!stopping.load()) {
                due += std::chrono::milliseconds(100);
                std::this_thread::sleep_until(due);
            }
        });
    }
    ~LivePattern()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping.store(true);
        }
        ready.notify_one();
        sender.join();
        tick.join();
    }
    void Push(const uint8_t* bytes, size_t size)
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            queued.insert(queued.end(), bytes, bytes + size);
        }
        ready.notify_one();
    }

private:
    void Send()
    {
        std::vector<uint8_t> taken;
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(lock);
                ready.wait_until(guard, std::chrono::steady_clock::now() + std::chrono::milliseconds(50),
                                 [this] { return !queued.empty() || stopping.load(); });
                if (queued.empty() && stopping.load())
                    return;
                taken.swap(queued);
            }
            if (!taken.empty())
                sink(taken.data(), taken.size());
            taken.clear();
        }
    }

    std::function<void(const uint8_t*, size_t)> sink;
    std::mutex lock;
    std::condition_variable ready;
    std::vector<uint8_t> queued;
    std::atomic<bool> stopping{false};
    std::thread sender;
    std::thread tick;
};

// MP3 or Opus, a frame at a time, flat out or (KV_BARE_PACED=1) paced in real time.
int EncodeOther(const char* codec, const char* outPath, const Wav& wav, UINT bitrate)
{
    const bool mp3 = std::strcmp(codec, "mp3") == 0;
    const size_t frameLength = mp3 ? 1152 : 960;
    const size_t frameSamples = frameLength * wav.channels;
    lame_t lame = nullptr;
    OpusEncoder* opus = nullptr;
    if (mp3) {
        lame = lame_init();
        lame_set_in_samplerate(lame, static_cast<int>(wav.rate));
        lame_set_num_channels(lame, wav.channels);
        lame_set_mode(lame, wav.channels == 1 ? MONO : JOINT_STEREO);
        lame_set_VBR(lame, vbr_off);
        lame_set_brate(lame, static_cast<int>(bitrate / 1000));
        lame_set_quality(lame, 3);
        lame_set_bWriteVbrTag(lame, 0);
        if (lame_init_params(lame) < 0)
            return 1;
    } else {
        int status = 0;
        opus = opus_encoder_create(static_cast<opus_int32>(wav.rate), wav.channels, OPUS_APPLICATION_AUDIO, &status);
        if (opus == nullptr)
            return 1;
        opus_encoder_ctl(opus, OPUS_SET_BITRATE(static_cast<opus_int32>(bitrate)));
        opus_encoder_ctl(opus, OPUS_SET_VBR_CONSTRAINT(1));
    }
    std::FILE* out = std::fopen(outPath, "wb");
    if (out == nullptr)
        return 1;
    const bool paced = std::getenv("KV_BARE_PACED") != nullptr;
    const auto frameTime = std::chrono::microseconds(1000000LL * static_cast<long long>(frameLength) / wav.rate);
    std::vector<int16_t> input(frameSamples);
    std::vector<uint8_t> output(frameLength * 5 / 4 + 7200);
    auto due = std::chrono::steady_clock::now();
    uint64_t frames = 0;
    for (size_t at = 0; at < wav.samples.size(); at += frameSamples) {
        if (paced) {
            due += frameTime;
            std::this_thread::sleep_until(due);
        }
        std::fill(input.begin(), input.end(), int16_t{0});
        std::memcpy(input.data(), wav.samples.data() + at,
                    std::min(frameSamples, wav.samples.size() - at) * sizeof(int16_t));
        const int bytes = mp3 ? lame_encode_buffer_interleaved(lame, input.data(), static_cast<int>(frameLength),
                                                               output.data(), static_cast<int>(output.size()))
                              : opus_encode(opus, input.data(), static_cast<int>(frameLength), output.data(),
                                            static_cast<opus_int32>(output.size()));
        if (bytes < 0)
            break;
        std::fwrite(output.data(), 1, static_cast<size_t>(bytes), out);
        ++frames;
    }
    std::fclose(out);
    if (lame != nullptr)
        lame_close(lame);
    if (opus != nullptr)
        opus_encoder_destroy(opus);
    std::fprintf(stderr, "frames=%llu\n", static_cast<unsigned long long>(frames));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bare-aac-encode IN.wav OUT.aac [HE_VERSION [BITRATE]]\n");
        return 2;
    }
    const char* codec = argc > 3 ? argv[3] : "1";
    const int heVersion = std::atoi(codec);
    const UINT bitrate = argc > 4 ? static_cast<UINT>(std::atoi(argv[4])) : 64000;
    Wav wav;
    if (!ReadWav(argv[1], wav)) {
        std::fprintf(stderr, "%s: not a 16-bit PCM WAV\n", argv[1]);
        return 2;
    }
    if (std::strcmp(codec, "mp3") == 0 || std::strcmp(codec, "opus") == 0)
        return EncodeOther(codec, argv[2], wav, bitrate);
    const UINT aot = heVersion == 2 ? AOT_PS : heVersion == 1 ? AOT_SBR : AOT_AAC_LC;
    HANDLE_AACENCODER encoder = nullptr;
    if (aacEncOpen(&encoder, 0, wav.channels) != AACENC_OK)
        return 1;
    bool ok = Set(encoder, AACENC_AOT, aot) && Set(encoder, AACENC_SAMPLERATE, wav.rate) &&
              Set(encoder, AACENC_CHANNELMODE, wav.channels == 1 ? MODE_1 : MODE_2) &&
              Set(encoder, AACENC_BITRATE, bitrate) && Set(encoder, AACENC_TRANSMUX, TT_MP4_ADTS) &&
              Set(encoder, AACENC_AFTERBURNER, 1) && Set(encoder, AACENC_BITRATEMODE, 0);
    if (ok && aot != AOT_AAC_LC)
        ok = Set(encoder, AACENC_SBR_MODE, 1) && Set(encoder, AACENC_SBR_RATIO, 2) &&
             Set(encoder, AACENC_SIGNALING_MODE, 1);
    AACENC_InfoStruct info{};
    if (!ok || aacEncEncode(encoder, nullptr, nullptr, nullptr, nullptr) != AACENC_OK ||
        aacEncInfo(encoder, &info) != AACENC_OK) {
        aacEncClose(&encoder);
        return 1;
    }

    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr)
        return 1;
    const bool frameLog = std::getenv("KV_FRAME_LOG") != nullptr;
    // KV_BARE_PACED=1: take each frame only when its sound would have been captured, as
    // the live path must, so the encoder runs in short bursts between sleeps.
    // KV_BARE_PACED=live: besides, wake as the live path's threads do, with nothing else
    // to do: a capture thread every 20 ms that encodes once a frame's worth has come, a
    // sender thread woken per frame (waiting at most 50 ms) that writes it, and a 100 ms
    // tick. What the live path costs beyond this is its own work.
    const char* pacing = std::getenv("KV_BARE_PACED");
    const bool paced = pacing != nullptr && std::strcmp(pacing, "live") != 0;
    const bool live = pacing != nullptr && !paced;
    const auto frameTime = std::chrono::microseconds(1000000LL * info.frameLength / wav.rate);
    const size_t frameSamples = static_cast<size_t>(info.frameLength) * wav.channels;
    std::vector<int16_t> input(frameSamples);
    std::vector<uint8_t> output(info.maxOutBufBytes);
    uint64_t frames = 0;
    uint64_t fed = 0;
    // Encodes the whole frame of input at sample at (the last one zero-padded, as the live
    // path feeds them) and hands what came out to emit. False when the library fails.
    auto encodeFrame = [&](size_t at, const std::function<void(const uint8_t*, size_t)>& emit) {
        std::fill(input.begin(), input.end(), int16_t{0});
        std::memcpy(input.data(), wav.samples.data() + at,
                    std::min(frameSamples, wav.samples.size() - at) * sizeof(int16_t));
        void* inPointer = input.data();
        INT inIdentifier = IN_AUDIO_DATA;
        INT inSize = static_cast<INT>(frameSamples * sizeof(int16_t));
        INT inElementSize = sizeof(int16_t);
        AACENC_BufDesc inDesc = {1, &inPointer, &inIdentifier, &inSize, &inElementSize};
        void* outPointer = output.data();
        INT outIdentifier = OUT_BITSTREAM_DATA;
        INT outSize = static_cast<INT>(output.size());
        INT outElementSize = 1;
        AACENC_BufDesc outDesc = {1, &outPointer, &outIdentifier, &outSize, &outElementSize};
        AACENC_InArgs inArgs{};
        inArgs.numInSamples = static_cast<INT>(frameSamples);
        AACENC_OutArgs outArgs{};
        if (aacEncEncode(encoder, &inDesc, &outDesc, &inArgs, &outArgs) != AACENC_OK)
            return false;
        fed += info.frameLength;
        if (outArgs.numOutBytes > 0) {
            emit(output.data(), static_cast<size_t>(outArgs.numOutBytes));
            if (frameLog)
                std::printf("frame %llu fed %llu\n", static_cast<unsigned long long>(frames),
                            static_cast<unsigned long long>(fed));
            ++frames;
        }
        return true;
    };
    auto write = [out](const uint8_t* bytes, size_t size) { std::fwrite(bytes, 1, size, out); };

    if (live) {
        LivePattern pattern(write);
        const size_t blockSamples = static_cast<size_t>(wav.rate / 50) * wav.channels; // 20 ms
        size_t captured = 0;
        size_t at = 0;
        bool failed = false;
        auto due = std::chrono::steady_clock::now();
        while (at < wav.samples.size() && !failed) {
            due += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(due);
            captured += blockSamples;
            for (; at < wav.samples.size() && (captured >= at + frameSamples || captured >= wav.samples.size());
                 at += frameSamples) {
                failed = !encodeFrame(at, [&pattern](const uint8_t* bytes, size_t size) { pattern.Push(bytes, size); });
                if (failed)
                    break;
            }
        }
    } else {
        auto due = std::chrono::steady_clock::now();
        for (size_t at = 0; at < wav.samples.size(); at += frameSamples) {
            if (paced) {
                due += frameTime;
                std::this_thread::sleep_until(due);
            }
            if (!encodeFrame(at, write))
                break;
        }
    }
    std::fclose(out);
    aacEncClose(&encoder);
    std::fprintf(stderr, "frames=%llu\n", static_cast<unsigned long long>(frames));
    return 0;
}
