#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoder/EncoderTestSignals.h"
#include "encoder/FrameHeaders.h"
#include "encoder/StreamEncoder.h"

namespace {

EncoderConfig CodecConfig(Codec codec, uint32_t rate, uint16_t channels, uint32_t bitrate)
{
    EncoderConfig config;
    config.codec = codec;
    config.sampleRate = rate;
    config.channels = channels;
    config.bitrate = bitrate;
    return config;
}

// What one Ogg page says, read from the bytes a sink received.
struct Page {
    OggPageHeader header;
    std::string body;
};

Page ReadPage(const std::string& bytes)
{
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const std::optional<OggPageHeader> header = ReadOggPageHeader(data, bytes.size());
    EXPECT_TRUE(header.has_value());
    if (!header)
        return {};
    EXPECT_EQ(header->bytes, bytes.size()) << "one page per sink call";
    const size_t segments = data[26];
    return {*header, bytes.substr(kOggHeaderBytes + segments)};
}

} // namespace

// Settings a codec cannot carry fail at Open with a reason that names them.
TEST(StreamEncoderTest, RefusesWhatTheCodecCannotCarry)
{
    struct Case {
        EncoderConfig config;
        const char* reason;
    };
    const Case cases[] = {
        {CodecConfig(Codec::Mp3, 22050, 2, 128000), "22050"},
        {CodecConfig(Codec::Mp3, 44100, 2, 100000), "100000 bit/s"},
        {CodecConfig(Codec::Mp3, 44100, 2, 16000), "16000 bit/s"},
        {CodecConfig(Codec::Opus, 44100, 2, 96000), "48000 Hz, not 44100"},
        {CodecConfig(Codec::Opus, 48000, 2, 300000), "300000 bit/s"},
        {CodecConfig(Codec::Opus, 48000, 2, 5000), "5000 bit/s"},
    };
    for (const Case& c : cases) {
        StreamEncoder encoder;
        EXPECT_FALSE(encoder.Open(c.config));
        EXPECT_NE(encoder.LastError().find(c.reason), std::string::npos) << encoder.LastError();
        EXPECT_FALSE(encoder.IsOpen());
    }
}

// MP3: every sink call is one whole MPEG-1 layer III frame at the stream's rate and
// bitrate, back to back from the first byte, no tag frame; all the input comes out.
TEST(StreamEncoderTest, Mp3HandsOutWholeFrames)
{
    for (const uint32_t rate : {32000u, 44100u, 48000u}) {
        for (const uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
            StreamEncoder encoder;
            ASSERT_TRUE(encoder.Open(CodecConfig(Codec::Mp3, rate, channels, 128000))) << encoder.LastError();
            const std::vector<int16_t> pcm = MakeTones(rate, channels, 1.0);
            CollectedFrames out;
            // Odd block sizes: frame boundaries do not follow the caller's blocks.
            for (size_t at = 0; at < pcm.size(); at += 1234 * channels) {
                const size_t n = std::min<size_t>(1234 * channels, pcm.size() - at);
                ASSERT_TRUE(encoder.Encode(pcm.data() + at, n * sizeof(int16_t), out.Sink()));
            }
            encoder.Flush(out.Sink());
            ASSERT_FALSE(out.frames.empty());
            uint64_t samples = 0;
            for (const std::string& frame : out.frames) {
                const auto header = ReadMpegHeader(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
                ASSERT_TRUE(header.has_value());
                EXPECT_EQ(header->bytes, frame.size());
                EXPECT_EQ(header->sampleRate, rate);
                samples += header->samples;
            }
            EXPECT_GE(samples, static_cast<uint64_t>(rate)) << rate << " Hz, " << channels << " ch";
            EXPECT_LE(samples, static_cast<uint64_t>(rate) + 4 * 1152) << rate << " Hz, " << channels << " ch";
        }
    }
}

// Opus: OpusHead alone on the first page (BOS, pre-skip = the look-ahead), OpusTags on
// the second, then audio pages whose granules count 960 samples a packet; the last
// page ends the stream and trims it to the input plus the pre-skip. A new stream
// chained by a title starts with its own headers and tags, and the old one's last
// granule says exactly the input it carried.
TEST(StreamEncoderTest, OpusPagesFollowOggOpus)
{
    OggOpusEncoder encoder;
    ASSERT_TRUE(encoder.Open(CodecConfig(Codec::Opus, 48000, 2, 96000))) << encoder.LastError();
    encoder.StartNewStream(SplitTitleLine("Kelm Test Stream"));
    const std::vector<int16_t> pcm = MakeTones(48000, 2, 1.0); // 50 frames
    CollectedFrames out;
    ASSERT_TRUE(encoder.Encode(pcm.data(), pcm.size() * sizeof(int16_t), out.Sink()));
    encoder.StartNewStream(SplitTitleLine("The Artist - The Song"));
    ASSERT_TRUE(encoder.Encode(pcm.data(), 4800 * sizeof(int16_t), out.Sink())); // 50 ms
    encoder.Flush(out.Sink());

    std::vector<Page> pages;
    for (const std::string& frame : out.frames)
        pages.push_back(ReadPage(frame));
    ASSERT_GE(pages.size(), 6u);
    const uint16_t preSkip = encoder.PreSkip();
    EXPECT_GT(preSkip, 0u);

    struct Link {
        uint32_t serial = 0;
        int64_t lastGranule = 0;
        bool ended = false;
        std::string tags;
    };
    std::vector<Link> links;
    for (size_t i = 0; i < pages.size(); ++i) {
        const Page& page = pages[i];
        if (page.header.beginsStream) {
            ASSERT_TRUE(links.empty() || links.back().ended) << "a new stream only after the old one ended";
            ASSERT_EQ(page.body.substr(0, 8), "OpusHead");
            EXPECT_EQ(static_cast<uint8_t>(page.body[9]), 2);
            EXPECT_EQ(static_cast<uint8_t>(page.body[10]) | static_cast<uint8_t>(page.body[11]) << 8, preSkip);
            ASSERT_LT(i + 1, pages.size());
            ASSERT_EQ(pages[i + 1].body.substr(0, 8), "OpusTags");
            links.push_back({page.header.serial, 0, false, pages[i + 1].body});
            ++i;
            continue;
        }
        ASSERT_FALSE(links.empty());
        EXPECT_EQ(page.header.serial, links.back().serial);
        EXPECT_GE(page.header.granule, links.back().lastGranule);
        links.back().lastGranule = page.header.granule;
        links.back().ended = page.header.endsStream;
    }
    ASSERT_EQ(links.size(), 2u);
    EXPECT_NE(links[0].serial, links[1].serial);
    EXPECT_NE(links[0].tags.find("TITLE=Kelm Test Stream"), std::string::npos);
    EXPECT_EQ(links[0].tags.find("ARTIST="), std::string::npos);
    EXPECT_NE(links[1].tags.find("TITLE=The Song"), std::string::npos);
    EXPECT_NE(links[1].tags.find("ARTIST=The Artist"), std::string::npos);
    // The first stream carried the whole second; the second the tenth and the padding
    // trimmed away.
    EXPECT_TRUE(links[0].ended);
    EXPECT_EQ(links[0].lastGranule, 48000 + preSkip);
    EXPECT_TRUE(links[1].ended);
    EXPECT_EQ(links[1].lastGranule, 2400 + preSkip);
}
