#include <gtest/gtest.h>

#include <filesystem>

#include "engine/StreamEngine.h"
#include "settings/AppSettings.h"
#include "settings/IniFile.h"
#include "support/TempDir.h"

namespace {

AppSettings Apply(const std::string& ini, const std::vector<AudioDeviceInfo>& devices = {},
                  const std::string& defaultId = "")
{
    SettingsStore store;
    IniFile::ParseText(ini, store);
    AppSettings settings;
    ApplyStoredSettings(store, settings, devices, defaultId);
    return settings;
}

const std::vector<AudioDeviceInfo> kDevices = {
    {"Microphone (USB)", "{0.0.1.00000000}.{aaa}"},
    {"Line In", "{0.0.1.00000000}.{bbb}"},
};

// Writes ini as DIR/config.ini, imports it (which writes config.dat), removes the
// config.ini and reads config.dat alone into reloaded.
::testing::AssertionResult ImportedAndReloaded(const TempDir& dir, const std::string& ini, SettingsStore& reloaded)
{
    WriteFileBytes(dir.File("config.ini"), ini);
    SettingsStore imported;
    if (!imported.LoadSettingsFile(dir.File("config.dat")))
        return ::testing::AssertionFailure() << "config.ini was not imported";
    std::filesystem::remove(dir.File("config.ini"));
    if (!reloaded.LoadSettingsFile(dir.File("config.dat")))
        return ::testing::AssertionFailure() << "config.dat was not read back";
    return ::testing::AssertionSuccess();
}

TEST(AppSettingsTest, EmptyStoreGivesTheDefaults)
{
    const AppSettings s = Apply("");
    const EngineConfig& e = s.stream;
    EXPECT_EQ(e.captureFormat.sampleRate, 48000u);
    EXPECT_EQ(e.captureFormat.channels, 2u);
    EXPECT_EQ(e.captureFormat.bitsPerSample, 16u);
    EXPECT_EQ(e.encoder.sampleRate, 48000u);
    EXPECT_EQ(e.encoder.channels, 2u);
    EXPECT_EQ(e.encoder.bitsPerSample, 0u);
    EXPECT_EQ(e.encoder.bitrate, 64000u);
    EXPECT_EQ(e.encoder.profile, AacProfile::HeV1);
    EXPECT_EQ(e.server.host, "");
    EXPECT_EQ(e.server.port, 0u);
    EXPECT_EQ(e.server.contentCode, 0u);
    EXPECT_EQ(e.server.streamBitrate, 64000u);
    EXPECT_EQ(e.server.streamSampleRate, 48000u);
    EXPECT_EQ(e.server.streamChannels, 2u);
    EXPECT_TRUE(e.server.isPublic);
    EXPECT_FALSE(e.server.tls.enabled);
    EXPECT_EQ(e.server.tls.caFile, "");
    EXPECT_EQ(e.server.tls.fingerprint, "");
    EXPECT_EQ(e.titleFile, "");
    EXPECT_EQ(e.device.position, -1);
    EXPECT_EQ(s.inputDeviceName, "(Default)");
    EXPECT_EQ(s.statusAddress, "");
    EXPECT_FALSE(s.persistentEncoding);
    EXPECT_FALSE(s.minimizeToTray);
    EXPECT_EQ(s.stream.silenceSeconds, 20);
    EXPECT_EQ(s.stream.silenceThresholdDb, -50);
    EXPECT_FALSE(e.recordEnabled);
    EXPECT_EQ(e.recordFolder, "recordings"); // no settings file: beside the working folder
    EXPECT_EQ(e.recordSplitMinutes, 60);

    const ProcessingParams& p = e.processing;
    EXPECT_FALSE(p.hpfEnabled || p.gateEnabled || p.gainEnabled || p.agcEnabled || p.compEnabled ||
                 p.boostEnabled || p.bassEnabled || p.stereoWidthEnabled || p.limiterEnabled || p.codecPreEnabled);
    EXPECT_FLOAT_EQ(p.agcTargetDb, -16.0f);
    EXPECT_FLOAT_EQ(p.agcMaxGainDb, 12.0f);
    EXPECT_FLOAT_EQ(p.agcSpeed, 0.005f);
    EXPECT_FLOAT_EQ(p.compThreshDb, -12.0f);
    EXPECT_FLOAT_EQ(p.compRatio, 4.0f);
    EXPECT_FLOAT_EQ(p.compAttackMs, 27.5f);
    EXPECT_FLOAT_EQ(p.compReleaseMs, 247.5f);
    EXPECT_EQ(p.codecBitrate, 64000u);
    EXPECT_EQ(p.codecHeVersion, 1u);
    EXPECT_FALSE(p.mono);
    EXPECT_FALSE(p.loudnessEnabled || p.truePeakEnabled);
    EXPECT_FLOAT_EQ(p.loudnessTarget, -16.0f);
    EXPECT_FLOAT_EQ(p.loudnessMaxGainDb, 18.0f);
    EXPECT_FLOAT_EQ(p.truePeakCeilingDb, -1.0f);

    EXPECT_EQ(Apply("", kDevices).inputDeviceName, "(Default) - Microphone (USB)");
}

// Channels and rate are settled once, so the capture, the chain's mono switch, the
// encoder and the server headers all see the same usable values.
TEST(AppSettingsTest, ChannelsAndRateAreSettledAtLoad)
{
    const struct {
        const char* channels;
        const char* rate;
        uint16_t wantChannels;
        uint32_t wantRate;
    } cases[] = {
        {"1", "44100", 1, 44100}, {"2", "48000", 2, 48000},   {"0", "0", 2, 0},
        {"3", "7999", 2, 8000},   {"4", "192001", 2, 192000}, {"65536", "-1", 2, 8000},
        {"-1", "2147483647", 2, 192000}, {"40000", "8000", 2, 8000}, {"x", "", 2, 48000},
    };
    for (const auto& c : cases) {
        const AppSettings s = Apply(std::string("[Audio]\nchannels=") + c.channels + "\nsampleRate=" + c.rate + "\n");
        const EngineConfig& e = s.stream;
        SCOPED_TRACE(std::string("channels ") + c.channels + ", rate " + c.rate);
        EXPECT_EQ(e.captureFormat.channels, c.wantChannels);
        EXPECT_EQ(e.encoder.channels, c.wantChannels);
        EXPECT_EQ(e.server.streamChannels, c.wantChannels);
        EXPECT_EQ(e.processing.mono, c.wantChannels == 1);
        EXPECT_EQ(e.captureFormat.sampleRate, c.wantRate);
        EXPECT_EQ(e.encoder.sampleRate, c.wantRate);
        EXPECT_EQ(e.server.streamSampleRate, static_cast<uint16_t>(c.wantRate));
    }
}

TEST(AppSettingsTest, PortKeepsTheLowSixteenBits)
{
    EXPECT_EQ(Apply("[Icecast]\nport=70000\n").stream.server.port, 4464u);
    EXPECT_EQ(Apply("[Icecast]\nport=abc\n").stream.server.port, 0u);
    EXPECT_EQ(Apply("[Audio]\nsampleRate=96000\n").stream.server.streamSampleRate, 30464u);
}

TEST(AppSettingsTest, ProfileAndContentCode)
{
    struct Case {
        const char* ini;
        uint32_t heVersion;
        uint32_t contentCode;
    };
    const Case cases[] = {
        {"[Encoder]\nheVersion=2\n", 2, 0}, {"[Encoder]\nheVersion=1\n", 1, 0},
        {"[Encoder]\nheVersion=0\n", 0, 2}, {"[Encoder]\nheVersion=\n", 0, 2},
        {"[Encoder]\nheVersion=v1\n", 0, 2}, {"[Encoder]\nheVersion=2 \n", 2, 0},
    };
    for (const Case& c : cases) {
        const AppSettings s = Apply(c.ini);
        EXPECT_EQ(StoredHeVersion(s.stream.encoder.profile), c.heVersion) << c.ini;
        EXPECT_EQ(s.stream.server.contentCode, c.contentCode) << c.ini;
        EXPECT_EQ(s.stream.processing.codecHeVersion, c.heVersion) << c.ini;
    }
}

// The stored numbering of the profile, both ways; a number the file should not hold
// reads as AAC-LC, as the text does.
TEST(AppSettingsTest, ProfileNumbering)
{
    EXPECT_EQ(ProfileFromHeVersion(0), AacProfile::Lc);
    EXPECT_EQ(ProfileFromHeVersion(1), AacProfile::HeV1);
    EXPECT_EQ(ProfileFromHeVersion(2), AacProfile::HeV2);
    EXPECT_EQ(ProfileFromHeVersion(7), AacProfile::Lc);
    for (AacProfile profile : {AacProfile::Lc, AacProfile::HeV1, AacProfile::HeV2})
        EXPECT_EQ(ProfileFromHeVersion(StoredHeVersion(profile)), profile) << ProfileName(profile);
    EXPECT_EQ(StoredHeVersion(AacProfile::HeV2), 2u);
}

TEST(AppSettingsTest, StatusAddressUsesThePortBelowTheSourcePort)
{
    EXPECT_EQ(MakeStatusAddress("h", 8005, "live"), "h:8000/live");
    EXPECT_EQ(MakeStatusAddress("h", 8005, "/live"), "h:8000/live");
    EXPECT_EQ(MakeStatusAddress("h", 8005, ""), "h:8000");
    EXPECT_EQ(MakeStatusAddress("h", 6, "m"), "h:1/m");
    EXPECT_EQ(MakeStatusAddress("h", 5, "m"), "");
    EXPECT_EQ(MakeStatusAddress("", 8005, "m"), "");
    EXPECT_EQ(Apply("[Icecast]\nhost=h\nport=8005\nmountPoint=live\n").statusAddress, "h:8000/live");
}

TEST(AppSettingsTest, LegacyDspValuesScaleAndSwitchesParse)
{
    const AppSettings s = Apply("[DSP]\n  gainDb  =  -35  \nagcEnabled=yEs\ngateEnabled=on\nhpfEnabled=\n"
                                "agcSpeed=125\ncompRatio=25\ncompMakeupDb=15\n[Audio]\nchannels=1\n");
    const ProcessingParams& p = s.stream.processing;
    EXPECT_FLOAT_EQ(p.gainDb, -3.5f);
    EXPECT_TRUE(p.agcEnabled);
    EXPECT_FALSE(p.gateEnabled);
    EXPECT_FALSE(p.hpfEnabled);
    EXPECT_FLOAT_EQ(p.agcSpeed, 0.0125f);
    EXPECT_FLOAT_EQ(p.compRatio, 2.5f);
    EXPECT_FLOAT_EQ(p.compMakeupDb, 1.5f);
    EXPECT_TRUE(p.mono);
}

TEST(AppSettingsTest, CompressorTimingFollowsTheThreshold)
{
    struct Case {
        float threshold;
        float attack;
        float release;
    };
    const Case cases[] = {{0.0f, 30.0f, 270.0f},  {-10.0f, 30.0f, 270.0f}, {-12.0f, 27.5f, 247.5f},
                          {-20.0f, 17.5f, 157.5f}, {-30.0f, 5.0f, 45.0f},   {-60.0f, 5.0f, 45.0f}};
    for (const Case& c : cases) {
        ProcessingParams p;
        p.compThreshDb = c.threshold;
        DeriveCompressorTiming(p);
        EXPECT_NEAR(p.compAttackMs, c.attack, 1e-4) << c.threshold;
        EXPECT_NEAR(p.compReleaseMs, c.release, 1e-3) << c.threshold;
    }
}

TEST(AppSettingsTest, InputDeviceResolution)
{
    struct Case {
        const char* ini;
        int32_t index;
        const char* name;
    };
    const Case cases[] = {
        {"[Audio]\ndeviceIndex=1\n", 1, "Line In"},
        {"[Audio]\ndeviceIndex=0\n", 0, "Microphone (USB)"},
        {"[Audio]\ndeviceIndex=2\n", -1, "(Default) - Microphone (USB)"},
        {"[Audio]\ndeviceIndex=-5\n", -1, "(Default) - Microphone (USB)"},
        {"[Audio]\ndeviceEndpointId={0.0.1.00000000}.{bbb}\ndeviceIndex=0\n", 1, "Line In"},
        {"[Audio]\ndeviceEndpointId={0.0.1.00000000}.{BBB}\ndeviceIndex=1\n", -1, "(Default) - Microphone (USB)"},
    };
    for (const Case& c : cases) {
        const AppSettings s = Apply(c.ini, kDevices);
        EXPECT_EQ(s.stream.device.position, c.index) << c.ini;
        EXPECT_EQ(s.inputDeviceName, c.name) << c.ini;
    }
    EXPECT_EQ(Apply("[Audio]\ndeviceIndex=0\n").inputDeviceName, "(Default)");

    // "(Default)" names the endpoint the system's default is, wherever it is listed.
    EXPECT_EQ(Apply("", kDevices, "{0.0.1.00000000}.{bbb}").inputDeviceName, "(Default) - Line In");
    EXPECT_EQ(Apply("[Audio]\ndeviceIndex=7\n", kDevices, "{0.0.1.00000000}.{bbb}").inputDeviceName,
              "(Default) - Line In");
    EXPECT_EQ(Apply("", kDevices, "{gone}").inputDeviceName, "(Default) - Microphone (USB)");
}

TEST(AppSettingsTest, ServerValuesAndSystemSwitchesAreCopied)
{
    const AppSettings s = Apply("[Icecast]\nhost=radio.example\nusername=dj\npassword=secret\nstreamName=Morning\n"
                                "streamGenre=Talk\nisPublic=false\nmountPoint=/live\n"
                                "[Encoder]\nbitrate=128000\n[System]\npersistentEncoding=true\nminimizeToTray=1\n");
    EXPECT_EQ(s.stream.server.host, "radio.example");
    EXPECT_EQ(s.stream.server.username, "dj");
    EXPECT_EQ(s.stream.server.password, "secret");
    EXPECT_EQ(s.stream.server.streamName, "Morning");
    EXPECT_EQ(s.stream.server.streamGenre, "Talk");
    EXPECT_EQ(s.stream.server.mountPoint, "/live");
    EXPECT_FALSE(s.stream.server.isPublic);
    EXPECT_EQ(s.stream.server.streamBitrate, 128000u);
    EXPECT_EQ(s.stream.processing.codecBitrate, 128000u);
    EXPECT_TRUE(s.persistentEncoding);
    EXPECT_TRUE(s.minimizeToTray);
}

// Further outputs take every key they leave out from the first output; their encoding
// and its headers follow their own keys; a file without them has none, and a disabled
// one stays out of the session.
TEST(AppSettingsTest, FurtherOutputsTakeTheFirstOutputsValuesForKeysTheyLeaveOut)
{
    const AppSettings s = Apply("[Icecast]\nhost=main.example\nport=8000\nmountPoint=/live\npassword=one\n"
                                "streamName=Morning\ntlsEnabled=true\n[Encoder]\nheVersion=1\nbitrate=48000\n"
                                "[Output2]\nhost=backup.example\nport=9000\n"
                                "[Output4]\nmountPoint=/hq\nheVersion=0\nbitrate=128000\nchannels=1\nsampleRate=44100\n"
                                "[Output5]\nenabled=false\n[Output9]\nhost=ignored\n");
    EXPECT_FALSE(Apply("[Icecast]\nhost=main.example\n").outputs[0].present);
    const OutputSettings& backup = s.outputs[0];
    ASSERT_TRUE(backup.present && backup.enabled);
    EXPECT_EQ(backup.stream.server.host, "backup.example");
    EXPECT_EQ(backup.stream.server.port, 9000);
    EXPECT_EQ(backup.stream.server.mountPoint, "/live");
    EXPECT_EQ(backup.stream.server.password, "one");
    EXPECT_EQ(backup.stream.server.streamName, "Morning");
    EXPECT_TRUE(backup.stream.server.tls.enabled);
    EXPECT_TRUE(SameEncoding(backup.stream.encoder, s.stream.encoder));
    EXPECT_EQ(backup.statusAddress, "backup.example:8995/live");
    EXPECT_EQ(backup.stream.outputNumber, 2);
    EXPECT_EQ(backup.stream.silenceSeconds, 0); // one alarm: the first output's
    EXPECT_FALSE(s.outputs[1].present);
    const OutputSettings& hq = s.outputs[2];
    EXPECT_EQ(hq.stream.server.host, "main.example");
    EXPECT_EQ(hq.stream.encoder.profile, AacProfile::Lc);
    EXPECT_EQ(hq.stream.encoder.channels, 1);
    EXPECT_EQ(hq.stream.encoder.sampleRate, 44100u);
    EXPECT_EQ(hq.stream.server.contentCode, kContentCodeAac);
    EXPECT_EQ(hq.stream.server.streamBitrate, 128000u);
    EXPECT_EQ(hq.stream.captureFormat.channels, 2); // one capture for all
    EXPECT_TRUE(s.outputs[3].present);
    EXPECT_FALSE(s.outputs[3].enabled);
    EXPECT_TRUE(HasFurtherOutputs(s));
    EXPECT_FALSE(HasFurtherOutputs(Apply("[Output2]\nenabled=false\n")));
    // The session's program: one encoding for the first output and the backup, one for
    // the high-quality mount, and the margin of HE-AAC at 48 kbit/s, which overshoots most.
    const ProgramConfig program = SessionProgram({&s.stream, &backup.stream, &hq.stream});
    ASSERT_EQ(program.encodings.size(), 2u);
    EXPECT_EQ(program.encodings[1].mountPoint, "/hq");
    EXPECT_EQ(program.processing.codecHeVersion, 1u);
    EXPECT_EQ(program.processing.codecBitrate, 48000u);
}

// codec in [Encoder] and [OutputN]: the content type, the stream rate the server is told
// (Opus always 48 kHz), the processing's codec family, and encodings kept apart by codec
// alone; a word it does not know is AAC, and AAC files without the key are as before.
TEST(AppSettingsTest, CodecsChooseTheirContentTypeRateAndEncoding)
{
    const AppSettings s = Apply("[Audio]\nsampleRate=44100\n[Encoder]\ncodec=MP3\nbitrate=128000\n"
                                "[Output2]\ncodec=opus\nbitrate=96000\n[Output3]\ncodec=flac\n"
                                "[Output4]\nheVersion=0\n");
    EXPECT_EQ(s.stream.encoder.codec, Codec::Mp3);
    EXPECT_EQ(s.stream.server.contentCode, kContentCodeMpeg);
    EXPECT_EQ(s.stream.server.streamSampleRate, 44100);
    EXPECT_EQ(s.stream.processing.codecFamily, 1u);
    const EngineConfig& opus = s.outputs[0].stream;
    EXPECT_EQ(opus.encoder.codec, Codec::Opus);
    EXPECT_EQ(opus.server.contentCode, kContentCodeOgg);
    EXPECT_EQ(opus.server.streamSampleRate, 48000);
    EXPECT_EQ(opus.processing.codecFamily, 2u);
    EXPECT_EQ(s.outputs[1].stream.encoder.codec, Codec::Aac);
    EXPECT_EQ(s.outputs[2].stream.encoder.codec, Codec::Mp3); // taken from the first output
    // The AAC profile means nothing to MP3: the fourth output shares the first's encoder.
    EXPECT_TRUE(SameEncoding(s.outputs[2].stream.encoder, s.stream.encoder));
    EncoderConfig aac = s.stream.encoder;
    aac.codec = Codec::Aac;
    EXPECT_FALSE(SameEncoding(aac, s.stream.encoder));
    EXPECT_EQ(Apply("[Encoder]\nheVersion=0\n").stream.encoder.codec, Codec::Aac);
    EXPECT_EQ(ContentTypeText(kContentCodeMpeg), std::string("audio/mpeg"));
    EXPECT_EQ(ContentTypeText(kContentCodeOgg), std::string("audio/ogg"));
    const ProgramConfig program = SessionProgram({&s.stream, &opus, &s.outputs[2].stream});
    EXPECT_EQ(program.encodings.size(), 2u);
    EXPECT_EQ(program.processing.codecFamily, 2u); // Opus 96k overshoots most
}

// The three TLS keys of [Icecast], as a hand-written config.ini gives them, reach the
// server parameters; a file from before them (no keys) connects in plain as it did.
TEST(AppSettingsTest, TlsKeysReachTheServerParameters)
{
    const std::string fingerprint = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
                                    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
    const struct {
        const char* ini;
        bool enabled;
        const char* caFile;
        const char* fingerprint;
    } cases[] = {
        {"[Icecast]\nhost=h\nport=8005\n", false, "", ""},
        {"[Icecast]\ntlsEnabled = true\n", true, "", ""},
        {"[Icecast]\ntlsEnabled=YES\ntlsCaFile = C:\\Radio\\our ca.pem\n", true, "C:\\Radio\\our ca.pem", ""},
        {"[Icecast]\ntlsEnabled=on\ntlsCaFile=/etc/kelm-vantoro/ca.pem\n", false, "/etc/kelm-vantoro/ca.pem", ""},
        {"[Icecast]\ntlsEnabled=1\ntlsFingerprint=abcdef\n", true, "", "abcdef"},
        // Keys of another section are not the server's.
        {"[System]\ntlsEnabled=true\ntlsCaFile=x.pem\n", false, "", ""},
    };
    for (const auto& c : cases) {
        const TlsOptions tls = Apply(c.ini).stream.server.tls;
        EXPECT_EQ(tls.enabled, c.enabled) << c.ini;
        EXPECT_EQ(tls.caFile, c.caFile) << c.ini;
        EXPECT_EQ(tls.fingerprint, c.fingerprint) << c.ini;
    }

    // Imported from config.ini, saved as config.dat, and read back from config.dat alone.
    TempDir dir;
    SettingsStore reloaded;
    ASSERT_TRUE(ImportedAndReloaded(dir, "[Icecast]\nhost=radio.example\ntlsEnabled=true\n"
                                           "tlsCaFile=/srv/ca.pem\ntlsFingerprint=" + fingerprint + "\n", reloaded));
    AppSettings settings;
    ApplyStoredSettings(reloaded, settings, {});
    EXPECT_TRUE(settings.stream.server.tls.enabled);
    EXPECT_EQ(settings.stream.server.tls.caFile, "/srv/ca.pem");
    EXPECT_EQ(settings.stream.server.tls.fingerprint, fingerprint);

    // Set through the store (as a program writes them) and saved: the same again.
    reloaded.SetBool("Icecast", "tlsEnabled", false);
    reloaded.SetString("Icecast", "tlsFingerprint", "");
    ASSERT_TRUE(reloaded.SaveSettingsFile(dir.File("config.dat")));
    SettingsStore again;
    ASSERT_TRUE(again.LoadSettingsFile(dir.File("config.dat")));
    EXPECT_EQ(again.GetString("Icecast", "tlsEnabled", ""), "false");
    ApplyStoredSettings(again, settings, {});
    EXPECT_FALSE(settings.stream.server.tls.enabled);
    EXPECT_EQ(settings.stream.server.tls.caFile, "/srv/ca.pem");
    EXPECT_EQ(settings.stream.server.tls.fingerprint, "");
}

// The dead-air keys of [System]: hand-written values as read, numbers out of range held,
// a file from before them (no keys) sounds the alarm at the defaults.
TEST(AppSettingsTest, DeadAirKeysAreReadHeldAndKeptInTheSettingsFile)
{
    const struct {
        const char* ini;
        int32_t seconds;
        int32_t thresholdDb;
    } cases[] = {
        {"[System]\npersistentEncoding=true\n", 20, -50},
        {"[System]\nsilenceSeconds=5\nsilenceThresholdDb=-40\n", 5, -40},
        {"[System]\nsilenceSeconds = 0\n", 0, -50},
        {"[System]\nsilenceSeconds=-3\nsilenceThresholdDb=6\n", 0, 0},
        {"[System]\nsilenceThresholdDb=-500\n", 20, -120},
        {"[System]\nsilenceSeconds=soon\nsilenceThresholdDb=\n", 20, -50},
        {"[Audio]\nsilenceSeconds=5\n", 20, -50},
    };
    for (const auto& c : cases) {
        const AppSettings s = Apply(c.ini);
        EXPECT_EQ(s.stream.silenceSeconds, c.seconds) << c.ini;
        EXPECT_EQ(s.stream.silenceThresholdDb, c.thresholdDb) << c.ini;
    }

    // Imported from config.ini, saved as config.dat, and read back from config.dat alone.
    TempDir dir;
    SettingsStore reloaded;
    ASSERT_TRUE(ImportedAndReloaded(dir, "[System]\nsilenceSeconds=7\nsilenceThresholdDb=-60\n", reloaded));
    AppSettings settings;
    ApplyStoredSettings(reloaded, settings, {});
    EXPECT_EQ(settings.stream.silenceSeconds, 7);
    EXPECT_EQ(settings.stream.silenceThresholdDb, -60);

    // Set through the store and saved: the same again.
    reloaded.SetInt("System", "silenceSeconds", 0);
    reloaded.SetInt("System", "silenceThresholdDb", -45);
    ASSERT_TRUE(reloaded.SaveSettingsFile(dir.File("config.dat")));
    SettingsStore again;
    ASSERT_TRUE(again.LoadSettingsFile(dir.File("config.dat")));
    ApplyStoredSettings(again, settings, {});
    EXPECT_EQ(settings.stream.silenceSeconds, 0);
    EXPECT_EQ(settings.stream.silenceThresholdDb, -45);
}

// titleFile under [Icecast], as written (spaces and non-ASCII kept), through the import
// and config.dat; a file from before it follows no file.
TEST(AppSettingsTest, TitleFileIsReadAndKeptInTheSettingsFile)
{
    EXPECT_EQ(Apply("[Icecast]\nhost=radio.example\n").stream.titleFile, "");
    EXPECT_EQ(Apply("[Icecast]\ntitleFile = C:\\Play Out\\now.txt\n").stream.titleFile, "C:\\Play Out\\now.txt");
    EXPECT_EQ(Apply("[System]\ntitleFile=/tmp/x\n").stream.titleFile, "");

    TempDir dir;
    SettingsStore reloaded;
    ASSERT_TRUE(ImportedAndReloaded(dir, "[Icecast]\ntitleFile=/srv/m\xC3\xBCsik/now playing.txt\n", reloaded));
    AppSettings settings;
    ApplyStoredSettings(reloaded, settings, {});
    EXPECT_EQ(settings.stream.titleFile, "/srv/m\xC3\xBCsik/now playing.txt");

    reloaded.SetString("Icecast", "titleFile", "");
    ASSERT_TRUE(reloaded.SaveSettingsFile(dir.File("config.dat")));
    SettingsStore again;
    ASSERT_TRUE(again.LoadSettingsFile(dir.File("config.dat")));
    ApplyStoredSettings(again, settings, {});
    EXPECT_EQ(settings.stream.titleFile, "");
}

// The recording keys of [System]: as read, the folder beside the settings file when none
// is given, a negative split read as one file per connection; kept through config.dat.
TEST(AppSettingsTest, RecordingKeysAreReadAndTheDefaultFolderFollowsTheSettingsFile)
{
    const struct {
        const char* ini;
        bool enabled;
        const char* folder;
        int32_t splitMinutes;
    } cases[] = {
        {"[System]\npersistentEncoding=true\n", false, "recordings", 60},
        {"[System]\nrecordEnabled=true\nrecordFolder=D:\\Archive\nrecordSplitMinutes=15\n", true, "D:\\Archive", 15},
        {"[System]\nrecordEnabled = yes\nrecordFolder =\nrecordSplitMinutes = 0\n", true, "recordings", 0},
        {"[System]\nrecordSplitMinutes=-5\n", false, "recordings", 0},
        {"[System]\nrecordSplitMinutes=hourly\n", false, "recordings", 60},
        {"[DSP]\nrecordEnabled=true\n", false, "recordings", 60},
    };
    for (const auto& c : cases) {
        const EngineConfig s = Apply(c.ini).stream;
        EXPECT_EQ(s.recordEnabled, c.enabled) << c.ini;
        EXPECT_EQ(s.recordFolder, c.folder) << c.ini;
        EXPECT_EQ(s.recordSplitMinutes, c.splitMinutes) << c.ini;
    }

    TempDir dir;
    SettingsStore reloaded;
    ASSERT_TRUE(ImportedAndReloaded(dir, "[System]\nrecordEnabled=true\nrecordSplitMinutes=30\n", reloaded));
    AppSettings settings;
    ApplyStoredSettings(reloaded, settings, {});
    EXPECT_TRUE(settings.stream.recordEnabled);
    EXPECT_EQ(settings.stream.recordFolder, dir.File("recordings"));
    EXPECT_EQ(settings.stream.recordSplitMinutes, 30);
}

} // namespace

// serverType and streamId in [Icecast] and [OutputN]: absent means Icecast and stream 1
// (a file from before them streams as it did); an output without them takes the first
// output's; a value no server can use refuses the start with the key's name.
TEST(AppSettingsTest, ServerTypeAndStreamIdAreReadPerOutput)
{
    const struct {
        const char* ini;
        ServerType type;
        uint32_t streamId;
        const char* problem; // part of the start's refusal, "" for none
        const char* statusAddress;
    } cases[] = {
        {"[Icecast]\nhost=h\nport=8005\nmountPoint=/live\n", ServerType::Icecast, 1, "", "h:8000/live"},
        {"[Icecast]\nhost=h\nport=8005\nserverType= Shoutcast1 \n", ServerType::Shoutcast1, 1, "", "h:8005"},
        {"[Icecast]\nhost=h\nport=8000\nserverType=shoutcast2\nstreamId=3\n", ServerType::Shoutcast2, 3, "",
         "h:8000"},
        {"[Icecast]\nserverType=shoutcast\n", ServerType::Icecast, 1, "serverType \"shoutcast\"", ""},
        {"[Icecast]\nserverType=shoutcast1\nstreamId=0\n", ServerType::Shoutcast1, 1, "streamId 0", ""},
        {"[Icecast]\nstreamId=70000\n", ServerType::Icecast, 1, "streamId 70000", ""},
    };
    for (const auto& c : cases) {
        const AppSettings settings = Apply(c.ini);
        EXPECT_EQ(settings.stream.server.serverType, c.type) << c.ini;
        EXPECT_EQ(settings.stream.server.streamId, c.streamId) << c.ini;
        EXPECT_NE(ServerTypeProblem(settings.stream).find(c.problem), std::string::npos) << c.ini;
        EXPECT_EQ(ServerTypeProblem(settings.stream).empty(), std::string(c.problem).empty()) << c.ini;
        EXPECT_EQ(settings.statusAddress, c.statusAddress) << c.ini;
    }

    const AppSettings outputs = Apply("[Icecast]\nhost=h\nport=8000\nserverType=shoutcast2\nstreamId=2\n"
                                      "[Output2]\nport=9000\n"
                                      "[Output3]\nserverType=icecast\nport=8005\nmountPoint=/b\n"
                                      "[Output4]\nstreamId=5\n");
    EXPECT_EQ(outputs.outputs[0].stream.server.serverType, ServerType::Shoutcast2);
    EXPECT_EQ(outputs.outputs[0].stream.server.streamId, 2u);
    EXPECT_EQ(outputs.outputs[0].statusAddress, "h:9000");
    EXPECT_EQ(outputs.outputs[1].stream.server.serverType, ServerType::Icecast);
    EXPECT_EQ(outputs.outputs[1].statusAddress, "h:8000/b");
    EXPECT_EQ(outputs.outputs[2].stream.server.streamId, 5u);
}
