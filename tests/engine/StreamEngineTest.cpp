#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/Platform.h"
#include "audio/AudioCapture.h"
#include "engine/StatusTexts.h"
#include "engine/StreamEngine.h"
#include "icecast/FetchUrl.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#if KV_OS_POSIX
#include <unistd.h>

#include "support/ShellCommand.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// The test environment's services, or nothing when the tests run outside it.
bool HaveEnvironment()
{
    return !EnvOr("KV_ICECAST_PORT", "").empty() && !EnvOr("PULSE_SERVER", "").empty();
}

#define NEED_ENVIRONMENT()                                                                                             \
    if (!HaveEnvironment())                                                                                            \
    GTEST_SKIP() << "needs scripts/testenv"

EngineConfig StreamConfig(const std::string& mount)
{
    EngineConfig c;
    c.captureFormat = {44100, 2, 16};
    c.encoder = {44100, 2, 0, 64000, AacProfile::HeV1};
    c.server.host = "127.0.0.1";
    c.server.port = static_cast<uint16_t>(std::stoi(EnvOr("KV_ICECAST_PORT", "8005")));
    c.server.mountPoint = mount;
    c.server.password = EnvOr("KV_ICECAST_SOURCE_PASSWORD", "");
    c.server.streamName = "Engine Test";
    c.server.streamGenre = "Testing";
    c.server.streamBitrate = 64000;
    c.server.streamSampleRate = 44100;
    c.server.streamChannels = 2;
    c.device.endpointId = EnvOr("KV_PULSE_STEREO_SOURCE", "");
    return c;
}

std::string StatusDocument()
{
    return FetchUrl("http://127.0.0.1:" + EnvOr("KV_ICECAST_STATUS_PORT", "8000") + "/status-json.xsl");
}

// A server that takes the stream and then stops reading, with a small receive buffer.
LoopbackServer StalledServer()
{
    return LoopbackServer(
        [](LoopbackPeer& peer, int) {
            peer.ReadRequest();
            peer.Write("HTTP/1.0 200 OK\r\n\r\n");
            peer.Idle(120000);
        },
        4096);
}

bool WaitFor(const std::function<bool()>& done, int ms)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

TEST(PeakMeterTest, JumpsUpAtOnceAndFallsFifteenPercentPerBlock)
{
    std::atomic<float> left{0.0f};
    std::atomic<float> right{0.0f};
    const int16_t loud[] = {-32768, 100, 5, -16384};
    EXPECT_FLOAT_EQ(UpdatePeakMeters(loud, 4, 2, left, right), 1.0f) << "the block's peak, not the meter's";
    EXPECT_FLOAT_EQ(left.load(), 1.0f);
    EXPECT_FLOAT_EQ(right.load(), 0.5f);
    const int16_t silent[] = {0, 0, 0, 0};
    EXPECT_FLOAT_EQ(UpdatePeakMeters(silent, 4, 2, left, right), 0.0f);
    EXPECT_FLOAT_EQ(left.load(), 0.85f);
    UpdatePeakMeters(silent, 4, 2, left, right);
    EXPECT_FLOAT_EQ(left.load(), 0.7225f);
    EXPECT_FLOAT_EQ(right.load(), 0.5f * 0.85f * 0.85f);

    // Mono: the one channel on both sides; an odd count never reads past the end.
    std::atomic<float> monoLeft{0.0f};
    std::atomic<float> monoRight{0.0f};
    const int16_t mono[] = {1000, -8192, 3};
    UpdatePeakMeters(mono, 3, 1, monoLeft, monoRight);
    EXPECT_FLOAT_EQ(monoLeft.load(), 0.25f);
    EXPECT_FLOAT_EQ(monoRight.load(), 0.25f);
    std::atomic<float> oddLeft{0.0f};
    std::atomic<float> oddRight{0.0f};
    const int16_t odd[] = {16384, 8192, -32768};
    EXPECT_FLOAT_EQ(UpdatePeakMeters(odd, 3, 2, oddLeft, oddRight), 1.0f);
    EXPECT_FLOAT_EQ(oddLeft.load(), 1.0f);
    EXPECT_FLOAT_EQ(oddRight.load(), 0.25f);
    // Either channel above counts: the right one alone.
    const int16_t rightOnly[] = {0, 12, 0, -20};
    EXPECT_FLOAT_EQ(UpdatePeakMeters(rightOnly, 4, 2, oddLeft, oddRight), 20.0f / 32768.0f);
}

// What the panel makes of the peak meters block after block: the lit dots and the
// audio indicator, fed as the window's paints would see them.
struct MeterReading {
    std::set<int> dotCounts;
    std::string lastQuality;
};

MeterReading ReadMeters(const std::vector<std::vector<int16_t>>& blocks, int rounds)
{
    std::atomic<float> left{0.0f};
    std::atomic<float> right{0.0f};
    AudioQuality quality;
    MeterReading reading;
    for (int r = 0; r < rounds; ++r) {
        for (const std::vector<int16_t>& block : blocks) {
            UpdatePeakMeters(block.data(), block.size(), 2, left, right);
            if (r > 0) // the first round only brings the meter up
                reading.dotCounts.insert(LitDots(left.load()));
            reading.lastQuality = quality.Update(left.load(), right.load()).text;
        }
    }
    return reading;
}

// A stereo sine of amplitude (fraction of full scale) at freq Hz, 48 kHz, cut into
// blocks of the given frame counts, the phase running on across blocks.
constexpr double kPi = 3.14159265358979323846;

std::vector<std::vector<int16_t>> SineBlocks(double amplitude, double freq, const std::vector<size_t>& frames)
{
    std::vector<std::vector<int16_t>> blocks;
    size_t t = 0;
    for (const size_t n : frames) {
        std::vector<int16_t> block;
        for (size_t i = 0; i < n; ++i, ++t) {
            const double x = amplitude * 32767.0 * std::sin(2.0 * kPi * freq * static_cast<double>(t) / 48000.0);
            const auto s = static_cast<int16_t>(std::lround(x));
            block.push_back(s);
            block.push_back(s);
        }
        blocks.push_back(block);
    }
    return blocks;
}

TEST(PeakMeterTest, SteadySignalsReadSteadyAndFullScaleReadsOvermod)
{
    // Hard clipping: every block reaches full scale, so every paint lights all dots.
    const std::vector<int16_t> clipped = {-32768, 32767, 32767, -32768, -32768, -32768};
    const MeterReading full = ReadMeters({clipped}, 40);
    EXPECT_EQ(full.dotCounts, (std::set<int>{kMeterDots}));
    EXPECT_EQ(full.lastQuality, "Overmod");

    // A -12 dBFS tone in capture-sized blocks of uneven length: one dot count.
    const MeterReading tone = ReadMeters(SineBlocks(0.2512, 1000.0, {240, 241, 239, 480, 240}), 20);
    EXPECT_EQ(tone.dotCounts, (std::set<int>{7}));
}

// A port from a hand-written file that does not fit is refused before anything opens,
// with a line that names it; its low 16 bits (34463) are never tried.
TEST(StreamEngineTest, ConfiguredPortOutsideTheRangeIsRefused)
{
    EngineConfig config;
    config.server.host = "127.0.0.1";
    config.configuredPort = 99999;
    config.server.port = static_cast<uint16_t>(config.configuredPort);
    StreamEngine engine;
    EXPECT_FALSE(engine.Initialize(config));
    EXPECT_EQ(engine.GetState(), EngineState::Error);
    EXPECT_EQ(engine.GetStatusMessage(),
              "Server port 99999 is out of range (1-65535).\nGo to Settings \xe2\x86\x92 Server.");
    EXPECT_EQ(ServerPortProblem(65535), "");
    EXPECT_EQ(ServerPortProblem(0), "");
}

// A fingerprint that cannot be a SHA-256 is refused before anything opens, with a line
// that names the key; with TLS off nothing reads it.
TEST(StreamEngineTest, TlsFingerprintThatIsNoSha256IsRefused)
{
    const std::string hex = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";
    std::string colons;
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (i > 0)
            colons += ':';
        colons.append(hex, i, 2);
    }
    const struct {
        std::string fingerprint;
        bool refused;
    } cases[] = {
        {"", false},
        {hex, false},
        {colons, false},
        {hex.substr(0, 62), true},       // 31 bytes
        {hex + "00", true},              // 33 bytes
        {hex.substr(0, 63) + "g", true}, // not hex
        {"sha256 Fingerprint=" + colons, false}, // as openssl prints it
        {colons + ":00", true},
    };
    for (const auto& c : cases) {
        TlsOptions tls;
        tls.enabled = true;
        tls.fingerprint = c.fingerprint;
        const std::string problem = ServerTlsProblem(tls);
        EXPECT_EQ(!problem.empty(), c.refused) << c.fingerprint;
        if (c.refused) {
            EXPECT_NE(problem.find("tlsFingerprint"), std::string::npos) << problem;
        }
        tls.enabled = false;
        EXPECT_EQ(ServerTlsProblem(tls), "") << c.fingerprint;
    }

    EngineConfig config;
    config.server.host = "127.0.0.1";
    config.configuredPort = 8005;
    config.server.port = 8005;
    config.server.tls.enabled = true;
    config.server.tls.fingerprint = "12:34";
    StreamEngine engine;
    EXPECT_FALSE(engine.Initialize(config));
    EXPECT_EQ(engine.GetState(), EngineState::Error);
    EXPECT_EQ(engine.GetStatusMessage(),
              "The setting tlsFingerprint \"12:34\" is not a SHA-256 fingerprint (64 hex digits, colons allowed).\n"
              "Give the server certificate's SHA-256 there, or leave it empty.");
}

TEST(StreamEngineTest, FreshEngineStopsQuietlyAndCannotStartWithoutInitialize)
{
    StreamEngine engine;
    engine.Stop();
    EXPECT_EQ(engine.GetState(), EngineState::Idle);
    EXPECT_EQ(engine.GetStatusMessage(), "");
    EXPECT_FALSE(engine.Start());
    EXPECT_EQ(engine.GetState(), EngineState::Error);
    EXPECT_EQ(engine.GetStats().elapsedSeconds, 0u);
}

TEST(StreamEngineTest, ConnectionFailuresGiveTheExactStatusLines)
{
    NEED_ENVIRONMENT();
    const std::string hint = "Check your Icecast server configuration.\nGo to Settings \xe2\x86\x92 Server.";
    struct Case {
        const char* what;
        std::function<void(EngineConfig&)> change;
        std::string status;
    };
    const Case cases[] = {
        {"empty host", [](EngineConfig& c) { c.server.host = ""; }, hint},
        {"port 0", [](EngineConfig& c) { c.server.port = 0; }, hint},
        {"wrong password", [](EngineConfig& c) { c.server.password = "wrong"; },
         "Failed to connect to Icecast server: Authentication failed (wrong username/password)"},
        {"closed port", [](EngineConfig& c) { c.server.port = 1; },
         "Failed to connect to Icecast server: Connection refused: 127.0.0.1:1 (error "},
    };
    for (const Case& c : cases) {
        EngineConfig config = StreamConfig("/engine-fail");
        c.change(config);
        StreamEngine engine;
        EXPECT_FALSE(engine.Initialize(config)) << c.what;
        EXPECT_EQ(engine.GetState(), EngineState::Error) << c.what;
        EXPECT_EQ(engine.GetStatusMessage().substr(0, c.status.size()), c.status) << c.what;
        EXPECT_FALSE(engine.Start()) << c.what;
        engine.Stop();
        EXPECT_EQ(engine.GetState(), EngineState::Stopped) << c.what;
        EXPECT_EQ(engine.GetStatusMessage(), "Stopped") << c.what;
    }
}

// A capture or encoder that cannot open fails the start with its own reason after the
// line users know, before any connection is made.
TEST(StreamEngineTest, CaptureAndEncoderFailuresSayWhy)
{
    NEED_ENVIRONMENT();
    struct Case {
        const char* what;
        std::function<void(EngineConfig&)> change;
        std::string status;
    };
    const Case cases[] = {
        {"no device at that position", [](EngineConfig& c) { c.device = {1000, ""}; },
         "Failed to initialize audio capture: No input device found. Check your microphone/line-in."},
        {"a rate the library refuses", [](EngineConfig& c) { c.encoder.sampleRate = 7000; },
         "Failed to initialize AAC encoder: SAMPLERATE 7000 refused: AACENC_INVALID_CONFIG (35)"},
    };
    for (const Case& c : cases) {
        EngineConfig config = StreamConfig("/engine-init-fail");
        c.change(config);
        StreamEngine engine;
        EXPECT_FALSE(engine.Initialize(config)) << c.what;
        EXPECT_EQ(engine.GetState(), EngineState::Error) << c.what;
        EXPECT_EQ(engine.GetStatusMessage(), c.status) << c.what;
        EXPECT_FALSE(engine.Start()) << c.what;
        EXPECT_EQ(engine.GetStatusMessage(), c.status) << c.what << ": the first failure's line stays";
    }
}

TEST(StreamEngineTest, StreamsAtTheDeviceRateWhenNoRateIsConfigured)
{
    NEED_ENVIRONMENT();
    EngineConfig config = StreamConfig("/engine-native");
    config.encoder.sampleRate = 0;
    config.encoder.profile = AacProfile::Lc;
    config.server.contentCode = kContentCodeAac;
    StreamEngine engine;
    ASSERT_TRUE(engine.Initialize(config)) << engine.GetStatusMessage();
    EXPECT_EQ(engine.GetStatusMessage(), "Engine initialized successfully");
    EXPECT_EQ(engine.GetState(), EngineState::Idle);
    EXPECT_EQ(engine.StreamRate(), 48000u) << "the test source runs at 48 kHz";
    ASSERT_TRUE(engine.Start());
    EXPECT_TRUE(engine.Start()) << "a second Start while streaming changes nothing";
    EXPECT_EQ(engine.GetStatusMessage(), "Streaming");

    // The server is told the rate the encoder really runs at.
    std::string document;
    EXPECT_TRUE(WaitFor(
        [&] {
            document = StatusDocument();
            return document.find("engine-native") != std::string::npos &&
                   document.find("\"title\":\"Engine Test\"") != std::string::npos;
        },
        5000))
        << document;
    EXPECT_NE(document.find("ice-samplerate=48000"), std::string::npos) << document;
    EXPECT_NE(document.find("\"server_type\":\"audio/aac\""), std::string::npos) << document;

    EXPECT_TRUE(WaitFor([&] { return engine.GetStats().bytesSent > 8000; }, 5000));
    const StreamStats running = engine.GetStats();
    EXPECT_GT(running.sendCount, 0u);
    EXPECT_GT(running.levelLeft, 0.1f);
    EXPECT_GT(running.levelRight, 0.1f);

    engine.Stop();
    EXPECT_EQ(engine.GetState(), EngineState::Stopped);
    EXPECT_EQ(engine.ConsecutiveSendFailures(), 0);
    const StreamStats stopped = engine.GetStats();
    EXPECT_EQ(stopped.elapsedSeconds, 0u);
    EXPECT_GE(stopped.bytesSent, running.bytesSent) << "counters keep their values";
    engine.Stop();
    EXPECT_EQ(engine.GetStatusMessage(), "Stopped");
}

TEST(StreamEngineTest, BusyMountIsAConnectionFailureWithTheReason)
{
    NEED_ENVIRONMENT();
    StreamEngine first;
    ASSERT_TRUE(first.Initialize(StreamConfig("/engine-busy"))) << first.GetStatusMessage();
    StreamEngine second;
    EXPECT_FALSE(second.Initialize(StreamConfig("/engine-busy")));
    EXPECT_EQ(second.GetStatusMessage(), "Failed to connect to Icecast server: Mount point in use: /engine-busy");
}

TEST(StreamEngineTest, ServerThatStopsReadingEndsTheStreamAndStopDoesNotHang)
{
    NEED_ENVIRONMENT();
    LoopbackServer server = StalledServer();
    EngineConfig config = StreamConfig("/stalled");
    config.server.port = server.Port();
    config.encoder = {48000, 2, 0, 192000, AacProfile::Lc};
    StreamEngine engine;
    ASSERT_TRUE(engine.Initialize(config)) << engine.GetStatusMessage();
    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(WaitFor([&] { return engine.GetState() == EngineState::Error; }, 60000));
    const std::string status = engine.GetStatusMessage();
    EXPECT_TRUE(status == "Send buffer overflow (network too slow)" || status == "Connection lost (send timeout)" ||
                status.rfind("Connection lost (error ", 0) == 0)
        << status;
    const Clock::time_point before = Clock::now();
    engine.Stop();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - before).count(), 8.0);
    EXPECT_EQ(engine.GetState(), EngineState::Stopped);
}

TEST(StreamEngineTest, EnginesStartStreamStopAndGoRepeatedly)
{
    NEED_ENVIRONMENT();
    for (int round = 0; round < 4; ++round) {
        auto engine = std::make_unique<StreamEngine>();
        ASSERT_TRUE(engine->Initialize(StreamConfig("/engine-repeat"))) << engine->GetStatusMessage();
        ASSERT_TRUE(engine->Start());
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        if (round % 2 == 0)
            engine->Stop();
        engine.reset(); // destruction stops a running engine itself
    }
    // An engine destroyed while streaming, without Stop.
    auto engine = std::make_unique<StreamEngine>();
    ASSERT_TRUE(engine->Initialize(StreamConfig("/engine-repeat")));
    ASSERT_TRUE(engine->Start());
    engine->UpdateProcessing(ProcessingParams{});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// A server that drops every stream right after accepting it. The state and its status
// line are published together, so a reader never sees Error with the text of another
// state, and the reason of the first failure stays.
TEST(StreamEngineTest, StateAndStatusLineAreSeenTogether)
{
    NEED_ENVIRONMENT();
    LoopbackServer server([](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        peer.Write("HTTP/1.0 200 OK\r\n\r\n");
    });
    for (int round = 0; round < 6; ++round) {
        EngineConfig config = StreamConfig("/dropped");
        config.server.port = server.Port();
        config.server.streamName = "";
        config.encoder = {48000, 2, 0, 192000, AacProfile::Lc};
        StreamEngine engine;
        ASSERT_TRUE(engine.Initialize(config)) << engine.GetStatusMessage();
        std::atomic<bool> done{false};
        std::string mismatch;
        std::thread reader([&] {
            while (!done.load()) {
                const EngineState state = engine.GetState();
                const std::string text = engine.GetStatusMessage();
                if (state == EngineState::Error && (text == "Streaming" || text == "Engine initialized successfully"))
                    mismatch = text;
            }
        });
        ASSERT_TRUE(engine.Start() || engine.GetState() == EngineState::Error);
        const bool failed = WaitFor([&] { return engine.GetState() == EngineState::Error; }, 15000);
        done = true;
        reader.join();
        ASSERT_TRUE(failed) << engine.GetStatusMessage();
        EXPECT_EQ(mismatch, "") << "round " << round;
        const std::string status = engine.GetStatusMessage();
        EXPECT_TRUE(status == "Server closed connection" || status.rfind("Connection lost (error ", 0) == 0) << status;
        engine.Stop();
        EXPECT_EQ(engine.GetStatusMessage(), "Stopped");
    }
}

// Three outputs of one program: two mounts of the real server in two encodings and a
// server that stops reading, in the first output's encoding. The stalled output fails
// alone; the others keep streaming at their rates, and one output's stop leaves the
// others on air.
TEST(StreamEngineTest, OutputsOfOneProgramFailAndStopAlone)
{
    NEED_ENVIRONMENT();
    LoopbackServer stalled = StalledServer();
    EngineConfig first = StreamConfig("/outputs-he");
    EngineConfig second = StreamConfig("/outputs-lc");
    second.encoder = {44100, 1, 0, 128000, AacProfile::Lc};
    EngineConfig third = StreamConfig("/outputs-stalled");
    third.server.port = stalled.Port();
    third.server.streamName = "";
    auto program = std::make_shared<ProgramSource>(SessionProgram({&first, &second, &third}));
    std::vector<std::unique_ptr<StreamEngine>> engines;
    for (EngineConfig* config : {&first, &second, &third}) {
        config->sharedProgram = program;
        engines.push_back(std::make_unique<StreamEngine>());
        ASSERT_TRUE(engines.back()->Initialize(*config)) << engines.back()->GetStatusMessage();
        ASSERT_TRUE(engines.back()->Start());
    }
    ASSERT_TRUE(WaitFor([&] { return engines[2]->GetState() == EngineState::Error; }, 60000));
    const uint64_t heBefore = engines[0]->GetStats().bytesSent;
    const uint64_t lcBefore = engines[1]->GetStats().bytesSent;
    engines[2].reset();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(engines[i]->GetState(), EngineState::Streaming) << engines[i]->GetStatusMessage();
    // 3 s at 64 and 128 kbit/s: 24 and 48 KB, less what scheduling holds back.
    EXPECT_GT(engines[0]->GetStats().bytesSent - heBefore, 12000u);
    EXPECT_GT(engines[1]->GetStats().bytesSent - lcBefore, 24000u);
    const std::string document = StatusDocument();
    EXPECT_NE(document.find("/outputs-he"), std::string::npos);
    EXPECT_NE(document.find("/outputs-lc"), std::string::npos);
    program->Stop();
    engines.clear();
}

#if KV_OS_POSIX
// The input device goes away mid-stream: the engine notices within a few seconds and
// fails with the reason (it used to stay "Streaming" with nothing on the wire), and
// Stop still returns at once.
TEST(StreamEngineTest, InputDeviceLostMidStreamIsAFailureWithTheReason)
{
    NEED_ENVIRONMENT();
    const std::string source = "kv_lost_engine_" + std::to_string(static_cast<long>(getpid()));
    const std::string module = RunShell("pactl load-module module-remap-source source_name=" + source +
                                        " master=kv_feed_stereo.monitor");
    ASSERT_FALSE(module.empty());
    EngineConfig config = StreamConfig("/engine-lost");
    config.device.endpointId = source;
    StreamEngine engine;
    if (!engine.Initialize(config)) {
        RunShell("pactl unload-module " + module);
        FAIL() << engine.GetStatusMessage();
    }
    ASSERT_TRUE(engine.Start());
    EXPECT_TRUE(WaitFor([&] { return engine.GetStats().bytesSent > 4000; }, 10000));
    RunShell("pactl unload-module " + module);
    const bool failed = WaitFor([&] { return engine.GetState() == EngineState::Error; },
                                (AudioCapture::kStallSeconds + 5) * 1000);
    ASSERT_TRUE(failed) << engine.GetStatusMessage();
    EXPECT_EQ(engine.GetStatusMessage(), StreamEngine::kInputLostText);
    const Clock::time_point before = Clock::now();
    engine.Stop();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - before).count(), 3.0);
    EXPECT_EQ(engine.GetState(), EngineState::Stopped);
}
#endif

} // namespace
