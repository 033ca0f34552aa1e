#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <fdk-aac/aacenc_lib.h>

namespace {

// The library is linked and usable in this build: one AAC-LC encoder opens and its
// first frames come out as ADTS.
TEST(FdkAacSmokeTest, OpensAndWritesAdtsFrames)
{
    HANDLE_AACENCODER handle = nullptr;
    ASSERT_EQ(aacEncOpen(&handle, 0, 2), AACENC_OK);
    ASSERT_EQ(aacEncoder_SetParam(handle, AACENC_AOT, AOT_AAC_LC), AACENC_OK);
    ASSERT_EQ(aacEncoder_SetParam(handle, AACENC_SAMPLERATE, 44100), AACENC_OK);
    ASSERT_EQ(aacEncoder_SetParam(handle, AACENC_CHANNELMODE, MODE_2), AACENC_OK);
    ASSERT_EQ(aacEncoder_SetParam(handle, AACENC_BITRATE, 64000), AACENC_OK);
    ASSERT_EQ(aacEncoder_SetParam(handle, AACENC_TRANSMUX, TT_MP4_ADTS), AACENC_OK);
    ASSERT_EQ(aacEncEncode(handle, nullptr, nullptr, nullptr, nullptr), AACENC_OK);

    AACENC_InfoStruct info = {};
    ASSERT_EQ(aacEncInfo(handle, &info), AACENC_OK);
    EXPECT_EQ(info.frameLength, 1024u);

    std::vector<INT_PCM> pcm(2 * 1024);
    std::vector<UCHAR> out(8192);
    int frames = 0;
    for (int block = 0; block < 8; ++block) {
        for (size_t i = 0; i < 1024; ++i) {
            const double t = static_cast<double>(block * 1024 + static_cast<int>(i)) / 44100.0;
            pcm[2 * i] = pcm[2 * i + 1] = static_cast<INT_PCM>(8000.0 * std::sin(2.0 * M_PI * 440.0 * t));
        }
        void* inPtr = pcm.data();
        INT inId = IN_AUDIO_DATA, inSize = static_cast<INT>(pcm.size() * sizeof(INT_PCM)), inElem = sizeof(INT_PCM);
        AACENC_BufDesc inDesc = {1, &inPtr, &inId, &inSize, &inElem};
        void* outPtr = out.data();
        INT outId = OUT_BITSTREAM_DATA, outSize = static_cast<INT>(out.size()), outElem = 1;
        AACENC_BufDesc outDesc = {1, &outPtr, &outId, &outSize, &outElem};
        AACENC_InArgs inArgs = {static_cast<INT>(pcm.size()), 0};
        AACENC_OutArgs outArgs = {};
        ASSERT_EQ(aacEncEncode(handle, &inDesc, &outDesc, &inArgs, &outArgs), AACENC_OK);
        if (outArgs.numOutBytes > 0) {
            ++frames;
            EXPECT_EQ(out[0], 0xff);
            EXPECT_EQ(out[1] & 0xf0, 0xf0);
            // The ADTS header's frame length covers exactly what was written.
            const int length = ((out[3] & 0x03) << 11) | (out[4] << 3) | (out[5] >> 5);
            EXPECT_EQ(length, outArgs.numOutBytes);
        }
    }
    EXPECT_GT(frames, 0);
    EXPECT_EQ(aacEncClose(&handle), AACENC_OK);
}

} // namespace
