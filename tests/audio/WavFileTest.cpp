#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/WavFile.h"
#include "support/TempDir.h"

namespace {

std::string Le16(uint32_t v)
{
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

std::string Le32(uint32_t v)
{
    return Le16(v & 0xFFFF) + Le16(v >> 16);
}

// A chunk with its declared size, padded to an even length.
std::string Chunk(const std::string& id, const std::string& body)
{
    std::string chunk = id + Le32(static_cast<uint32_t>(body.size())) + body;
    if (body.size() % 2)
        chunk += '\0';
    return chunk;
}

std::string FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits)
{
    const uint32_t blockAlign = channels * bits / 8u;
    return Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * blockAlign) + Le16(blockAlign) + Le16(bits);
}

std::string Extensible(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t subformat)
{
    const std::string guidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    return FmtBody(0xFFFE, channels, rate, bits) + Le16(22) + Le16(bits) + Le32(3) + Le16(subformat) + guidTail;
}

std::string Riff(const std::string& chunks)
{
    return "RIFF" + Le32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

std::string Pcm(const std::vector<int16_t>& samples)
{
    std::string bytes;
    for (int16_t s : samples)
        bytes += Le16(static_cast<uint16_t>(s));
    return bytes;
}

const std::vector<int16_t> kStereo = {1, -1, 32767, -32768, 300, -300};

TEST(WavFileTest, RejectsBadInput)
{
    const std::string fmt = Chunk("fmt ", FmtBody(1, 2, 44100, 16));
    const std::string data = Chunk("data", Pcm(kStereo));
    struct Case {
        const char* name;
        std::string bytes;
        const char* error;
    };
    const Case cases[] = {
        {"empty file", "", "not a WAV file"},
        {"text", "hello, this is not audio at all", "not a WAV file"},
        {"RIFF of another kind", "RIFF" + Le32(4) + "AVI " + fmt, "not a WAV file"},
        {"cut in the RIFF header", "RIFF" + Le32(40), "truncated WAV header"},
        {"cut in a chunk header", Riff("fmt "), "truncated WAV header"},
        {"cut in the fmt chunk", Riff(fmt.substr(0, 14)), "truncated WAV header"},
        {"no data chunk", Riff(fmt), "truncated WAV header"},
        {"chunk longer than the file", Riff(fmt + "LIST" + Le32(1000) + "INFO"), "truncated WAV header"},
        {"float samples", Riff(Chunk("fmt ", FmtBody(3, 2, 44100, 32)) + data), "not 16-bit PCM"},
        {"24-bit PCM", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 24)) + data), "not 16-bit PCM"},
        {"8-bit PCM", Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 8)) + data), "not 16-bit PCM"},
        {"extensible float", Riff(Chunk("fmt ", Extensible(2, 48000, 16, 3)) + data), "not 16-bit PCM"},
        {"short extensible", Riff(Chunk("fmt ", FmtBody(0xFFFE, 2, 48000, 16)) + data), "not 16-bit PCM"},
        {"fmt too small", Riff(Chunk("fmt ", std::string(14, '\1')) + data), "malformed"},
        {"no channels", Riff(Chunk("fmt ", FmtBody(1, 0, 44100, 16)) + data), "malformed"},
        {"rate 0", Riff(Chunk("fmt ", FmtBody(1, 2, 0, 16)) + data), "malformed"},
        {"data before fmt", Riff(data + fmt), "before"},
        {"rate 0xFFFFFFFF", Riff(Chunk("fmt ", FmtBody(1, 2, 0xFFFFFFFF, 16)) + data), "unsupported"},
        {"rate 192001", Riff(Chunk("fmt ", FmtBody(1, 2, 192001, 16)) + data), "unsupported"},
        {"rate 7999", Riff(Chunk("fmt ", FmtBody(1, 1, 7999, 16)) + data), "unsupported"},
        {"9 channels", Riff(Chunk("fmt ", FmtBody(1, 9, 48000, 16)) + data), "unsupported"},
        {"32767 channels", Riff(Chunk("fmt ", FmtBody(1, 32767, 48000, 16)) + data), "unsupported"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(dir.File("bad.wav"), c.bytes);
        WavReader reader;
        EXPECT_FALSE(reader.Open(dir.File("bad.wav")));
        EXPECT_NE(reader.LastError().find(c.error), std::string::npos) << reader.LastError();
        std::vector<int16_t> out;
        EXPECT_FALSE(reader.Read(100, out));
        EXPECT_TRUE(out.empty());
    }
    WavReader reader;
    EXPECT_FALSE(reader.Open(dir.File("missing.wav")));
    EXPECT_EQ(reader.LastError(), "cannot open file");
    EXPECT_FALSE(reader.Open(dir.Path()));
}

TEST(WavFileTest, ReadsTheLayoutsItMeets)
{
    struct Case {
        const char* name;
        std::string bytes;
        uint32_t rate;
        uint16_t channels;
        std::vector<int16_t> samples;
    };
    const std::string fmt = Chunk("fmt ", FmtBody(1, 2, 44100, 16));
    const Case cases[] = {
        {"plain", Riff(fmt + Chunk("data", Pcm(kStereo))), 44100, 2, kStereo},
        {"fmt with cbSize", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16) + Le16(0)) + Chunk("data", Pcm(kStereo))),
         44100, 2, kStereo},
        {"odd chunks around fmt, extensible",
         Riff(Chunk("junk", "abc") + Chunk("fmt ", Extensible(1, 22050, 16, 1)) + Chunk("LIST", "INFOx") +
              Chunk("data", Pcm({5, 6, 7}))),
         22050, 1, {5, 6, 7}},
        {"data longer than the file", Riff(fmt + "data" + Le32(0xFFFFFFFF) + Pcm(kStereo)), 44100, 2, kStereo},
        {"a stray byte and half a frame", Riff(fmt + Chunk("data", Pcm(kStereo) + Pcm({9}) + "z")), 44100, 2,
         kStereo},
        {"empty data", Riff(fmt + Chunk("data", "")), 44100, 2, {}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(dir.File("good.wav"), c.bytes);
        WavReader reader;
        ASSERT_TRUE(reader.Open(dir.File("good.wav"))) << reader.LastError();
        EXPECT_EQ(reader.SampleRate(), c.rate);
        EXPECT_EQ(reader.Channels(), c.channels);
        EXPECT_EQ(reader.Frames(), c.samples.size() / c.channels);
        std::vector<int16_t> all;
        std::vector<int16_t> out;
        while (reader.Read(2, out) && !out.empty())
            all.insert(all.end(), out.begin(), out.end());
        EXPECT_EQ(all, c.samples);
    }
}

TEST(WavFileTest, WriterRoundTrip)
{
    TempDir dir;
    std::vector<int16_t> samples;
    for (int i = 0; i < 3001; ++i)
        samples.push_back(static_cast<int16_t>(i * 37 - 40000));
    WavWriter writer;
    ASSERT_TRUE(writer.Open(dir.File("out.wav"), 32000, 1));
    ASSERT_TRUE(writer.Write(samples.data(), 1000));
    ASSERT_TRUE(writer.Write(samples.data() + 1000, samples.size() - 1000));
    ASSERT_TRUE(writer.Close());

    const std::string bytes = ReadFileBytes(dir.File("out.wav"));
    EXPECT_EQ(bytes, Riff(Chunk("fmt ", FmtBody(1, 1, 32000, 16)) + Chunk("data", Pcm(samples))));
    WavReader reader;
    ASSERT_TRUE(reader.Open(dir.File("out.wav")));
    std::vector<int16_t> back;
    ASSERT_TRUE(reader.Read(100000, back));
    EXPECT_EQ(back, samples);
}

TEST(WavFileTest, WriterReportsAFolderItCannotCreateIn)
{
    TempDir dir;
    WavWriter writer;
    EXPECT_FALSE(writer.Open(dir.File("no-such-folder/out.wav"), 48000, 2));
    EXPECT_FALSE(writer.LastError().empty());
    EXPECT_FALSE(writer.Close());
}

} // namespace
