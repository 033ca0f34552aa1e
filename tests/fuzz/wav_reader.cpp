// The WAV reader: header walk, format checks and reading the data to the end.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/WavFile.h"

namespace {

std::string InputPath()
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/kv-fuzz-wav-" + std::to_string(getpid()) + ".wav";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The reader works on files; each input becomes the same scratch file.
    static const std::string path = InputPath();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);

    WavReader reader;
    if (reader.Open(path)) {
        if (reader.SampleRate() < kMinWavSampleRate || reader.SampleRate() > kMaxWavSampleRate ||
            reader.Channels() == 0 || reader.Channels() > kMaxWavChannels)
            std::abort();
        std::vector<int16_t> out;
        uint64_t frames = 0;
        while (reader.Read(1000, out) && !out.empty()) {
            if (out.size() % reader.Channels() != 0)
                std::abort();
            frames += out.size() / reader.Channels();
        }
        if (frames > reader.Frames())
            std::abort();
    }
    return 0;
}
