#include "audio/WavFile.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "base/ExecutablePath.h"

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36; // what the 32-bit RIFF size can hold

// KSDATAFORMAT_SUBTYPE_PCM after its first two bytes (the format tag).
constexpr unsigned char kPcmSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t Le16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void PutLe16(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void PutLe32(unsigned char* p, uint32_t v)
{
    PutLe16(p, v);
    PutLe16(p + 2, v >> 16);
}

} // namespace

bool WavReader::Fail(const std::string& text)
{
    error = text;
    file.close();
    return false;
}

bool WavReader::Open(const std::string& path)
{
    file.close();
    error.clear();
    haveFormat = false;
    dataFrames = framesLeft = 0;
    std::error_code ec;
    const uint64_t fileSize = std::filesystem::file_size(Utf8Path(path), ec);
    if (ec)
        return Fail("cannot open file");
    file.open(Utf8Path(path), std::ios::binary);
    if (!file)
        return Fail("cannot open file");

    unsigned char header[12];
    file.read(reinterpret_cast<char*>(header), sizeof header);
    const size_t got = static_cast<size_t>(file.gcount());
    if (got < 4 || std::memcmp(header, "RIFF", 4) != 0)
        return Fail("not a WAV file");
    if (got < sizeof header)
        return Fail("truncated WAV header");
    if (std::memcmp(header + 8, "WAVE", 4) != 0)
        return Fail("not a WAV file");
    return WalkChunks(fileSize);
}

// Visits chunks up to the data chunk; the format chunk must come before it.
bool WavReader::WalkChunks(uint64_t fileSize)
{
    uint64_t offset = 12;
    for (;;) {
        unsigned char chunk[8];
        file.read(reinterpret_cast<char*>(chunk), sizeof chunk);
        if (file.gcount() != static_cast<std::streamsize>(sizeof chunk))
            return Fail(haveFormat ? "truncated WAV header (no data chunk)" : "truncated WAV header (no fmt chunk)");
        offset += sizeof chunk;
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (!ParseFormat(size))
                return false;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                return Fail("WAV data chunk comes before its fmt chunk");
            const uint64_t available = fileSize > offset ? fileSize - offset : 0;
            const uint64_t bytes = std::min<uint64_t>(size, available);
            dataFrames = framesLeft = bytes / (2u * channels);
            return true;
        }
        // Chunks are padded to an even size.
        const uint64_t next = offset + size + (size & 1u);
        if (next > fileSize)
            return Fail("truncated WAV header");
        offset = next;
        file.seekg(static_cast<std::streamoff>(offset));
        if (!file)
            return Fail("truncated WAV header");
    }
}

// Reads the fmt chunk body and leaves the file at its end.
bool WavReader::ParseFormat(uint32_t size)
{
    if (size < 16)
        return Fail("malformed WAV fmt chunk");
    unsigned char fmt[40] = {};
    const size_t wanted = std::min<size_t>(size, sizeof fmt);
    file.read(reinterpret_cast<char*>(fmt), static_cast<std::streamsize>(wanted));
    if (static_cast<size_t>(file.gcount()) != wanted)
        return Fail("truncated WAV header");
    const uint16_t tag = Le16(fmt);
    const uint16_t count = Le16(fmt + 2);
    const uint32_t rate = Le32(fmt + 4);
    const uint16_t blockAlign = Le16(fmt + 12);
    const uint16_t bits = Le16(fmt + 14);
    bool pcm = tag == kFormatPcm;
    if (tag == kFormatExtensible) {
        pcm = size >= 40 && Le16(fmt + 16) >= 22 && Le16(fmt + 24) == kFormatPcm &&
              std::memcmp(fmt + 26, kPcmSubformatTail, sizeof kPcmSubformatTail) == 0;
    }
    if (!pcm || bits != 16)
        return Fail("not 16-bit PCM (format " + std::to_string(tag) + ", " + std::to_string(bits) + " bits)");
    if (count == 0 || rate == 0 || blockAlign != count * 2u)
        return Fail("malformed WAV fmt chunk");
    if (rate < kMinWavSampleRate || rate > kMaxWavSampleRate || count > kMaxWavChannels)
        return Fail("unsupported WAV format (" + std::to_string(rate) + " Hz, " + std::to_string(count) +
                    " channels)");
    const uint64_t skip = static_cast<uint64_t>(size - wanted) + (size & 1u);
    if (skip > 0) {
        file.seekg(static_cast<std::streamoff>(skip), std::ios::cur);
        if (!file)
            return Fail("truncated WAV header");
    }
    sampleRate = rate;
    channels = count;
    haveFormat = true;
    return true;
}

bool WavReader::Read(size_t maxFrames, std::vector<int16_t>& out)
{
    out.clear();
    const size_t frames = static_cast<size_t>(std::min<uint64_t>(maxFrames, framesLeft));
    if (frames == 0 || !file.is_open())
        return error.empty();
    const size_t bytes = frames * channels * 2u;
    raw.resize(bytes);
    file.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(bytes));
    if (static_cast<size_t>(file.gcount()) != bytes) {
        error = "read error in WAV data";
        return false;
    }
    out.resize(frames * channels);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(Le16(raw.data() + 2 * i));
    framesLeft -= frames;
    return true;
}

WavWriter::~WavWriter()
{
    if (file.is_open())
        file.close();
}

bool WavWriter::Fail(const std::string& text)
{
    if (error.empty())
        error = text;
    return false;
}

bool WavWriter::Open(const std::string& path, uint32_t sampleRate, uint16_t channels)
{
    error.clear();
    dataBytes = 0;
    file.open(Utf8Path(path), std::ios::binary | std::ios::trunc);
    if (!file)
        return Fail("cannot create " + path);
    unsigned char h[44] = {};
    std::memcpy(h, "RIFF", 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe32(h + 16, 16);
    PutLe16(h + 20, kFormatPcm);
    PutLe16(h + 22, channels);
    PutLe32(h + 24, sampleRate);
    PutLe32(h + 28, sampleRate * channels * 2u);
    PutLe16(h + 32, channels * 2u);
    PutLe16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    file.write(reinterpret_cast<const char*>(h), sizeof h);
    return file ? true : Fail("cannot write " + path);
}

bool WavWriter::Write(const int16_t* samples, size_t count)
{
    if (!file.is_open())
        return Fail("WAV file is not open");
    if (dataBytes + count * 2u > kMaxDataBytes)
        return Fail("WAV output larger than 4 GB");
    raw.resize(count * 2u);
    for (size_t i = 0; i < count; ++i)
        PutLe16(raw.data() + 2 * i, static_cast<uint16_t>(samples[i]));
    file.write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
    if (!file)
        return Fail("write error");
    dataBytes += raw.size();
    return true;
}

bool WavWriter::Close()
{
    if (!file.is_open())
        return Fail("WAV file is not open");
    unsigned char size[4];
    PutLe32(size, static_cast<uint32_t>(36 + dataBytes));
    file.seekp(4);
    file.write(reinterpret_cast<const char*>(size), 4);
    PutLe32(size, static_cast<uint32_t>(dataBytes));
    file.seekp(40);
    file.write(reinterpret_cast<const char*>(size), 4);
    file.flush();
    const bool ok = static_cast<bool>(file) && error.empty();
    file.close();
    return ok ? true : Fail("write error");
}
