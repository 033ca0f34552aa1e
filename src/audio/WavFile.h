#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// The formats a recording may have: the rates a capture device delivers and up to
// eight channels. Anything else in a header is damage, not sound.
constexpr uint32_t kMinWavSampleRate = 8000;
constexpr uint32_t kMaxWavSampleRate = 192000;
constexpr uint16_t kMaxWavChannels = 8;

// Reads 16-bit PCM WAV files (plain PCM or WAVE_FORMAT_EXTENSIBLE with the PCM
// subformat), walking the chunks in any order before the data and skipping the ones
// it does not know. A data chunk longer than the file (as left by an interrupted
// recording) is read up to the end of the file.
class WavReader {
public:
    // False with LastError() for a missing file, a file that is not WAV, a format other
    // than 16-bit PCM, a rate or channel count out of range, and a header cut short.
    bool Open(const std::string& path);

    // Reads up to maxFrames frames into out (resized to whole frames). Returns false on
    // a read error; at the end of the data out is empty and the result true.
    bool Read(size_t maxFrames, std::vector<int16_t>& out);

    uint32_t SampleRate() const { return sampleRate; }
    uint16_t Channels() const { return channels; }
    uint64_t Frames() const { return dataFrames; }
    const std::string& LastError() const { return error; }

private:
    bool Fail(const std::string& text);
    bool ParseFormat(uint32_t size);
    bool WalkChunks(uint64_t fileSize);

    std::ifstream file;
    std::string error;
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    bool haveFormat = false;
    uint64_t dataFrames = 0;
    uint64_t framesLeft = 0;
    std::vector<unsigned char> raw;
};

// Writes a 16-bit PCM WAV file. The sizes in the header are filled in by Close.
class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool Open(const std::string& path, uint32_t sampleRate, uint16_t channels);
    bool Write(const int16_t* samples, size_t count);
    // Completes the header and closes the file; false when any write failed.
    bool Close();
    const std::string& LastError() const { return error; }

private:
    bool Fail(const std::string& text);

    std::ofstream file;
    std::string error;
    uint64_t dataBytes = 0;
    std::vector<unsigned char> raw;
};
