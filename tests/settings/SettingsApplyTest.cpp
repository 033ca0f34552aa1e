#include <gtest/gtest.h>

#include "base/Utf8.h"
#include "engine/StreamEngine.h"
#include "settings/IniFile.h"
#include "settings/SettingsApply.h"

namespace {

const std::vector<AudioDeviceInfo> kDevices = {
    {"Microphone (USB)", "{0.0.1.00000000}.{aaa}"},
    {"Line In", "{0.0.1.00000000}.{bbb}"},
};

struct Loaded {
    SettingsStore store;
    AppSettings settings;
};

Loaded Load(const std::string& ini)
{
    Loaded l;
    IniFile::ParseText(ini, l.store);
    ApplyStoredSettings(l.store, l.settings, kDevices);
    return l;
}

TEST(SettingsApplyTest, FillScalesStoredValuesForTheDialog)
{
    Loaded l = Load("[Encoder]\nbitrate=96500\nheVersion=7\n[Icecast]\nhost=h\nport=8000\nmountPoint=stream\n"
                    "password=pw\n[DSP]\ngainDb=-35\nagcSpeed=75\ncompThreshDb=-150\n[System]\nstartMinimized=yes\n");
    SettingsDialogData d;
    FillDialogData(l.store, l.settings, d);
    EXPECT_EQ(d.bitrate, 96u);
    EXPECT_EQ(d.heVersion, 0u);
    EXPECT_STREQ(d.address, "h:8000/stream");
    EXPECT_STREQ(d.password, "pw");
    EXPECT_FLOAT_EQ(d.gainDb, -3.5f);
    EXPECT_FLOAT_EQ(d.agcSpeed, 0.0075f);
    EXPECT_FLOAT_EQ(d.compThreshDb, -15.0f);
    EXPECT_FLOAT_EQ(d.compAttackMs, 5.0f);
    EXPECT_TRUE(d.startMinimized);
    EXPECT_FALSE(d.startWithWindows);
    EXPECT_EQ(d.previewOutputDevice, -1);
    EXPECT_EQ(d.deviceIndex, -1);

    ReadBackDialogData(d, l.store, l.settings, kDevices); // confirmed unchanged
    EXPECT_EQ(l.store.GetInt("Encoder", "bitrate", 0), 96000);
    EXPECT_EQ(l.store.GetInt("DSP", "gainDb", 0), -35);
    EXPECT_EQ(l.store.GetInt("DSP", "agcSpeed", 0), 75);
    EXPECT_EQ(l.store.GetString("Icecast", "mountPoint", ""), "stream");

    FillDialogData(Load("[Icecast]\nhost=bare\n").store, Load("[Icecast]\nhost=bare\n").settings, d);
    EXPECT_STREQ(d.address, "bare");
    EXPECT_EQ(CombineServerAddress("", 8000, "live"), "");
    EXPECT_EQ(CombineServerAddress("h", 0, "/live"), "h/live");
}

TEST(SettingsApplyTest, ReadBackWritesTheStoreAndTheRuntimeValues)
{
    Loaded l = Load("[Encoder]\nbitrate=96500\n[Audio]\ndeviceEndpointId={0.0.1.00000000}.{aaa}\n"
                    "[Custom]\nkept=1\n");
    SettingsDialogData d;
    FillDialogData(l.store, l.settings, d);
    CopyDialogText(d.host, "radio.example");
    d.port = 8005;
    CopyDialogText(d.mountPoint, "/live");
    CopyDialogText(d.password, "secret");
    d.channels = 1;
    d.heVersion = 0;
    d.bitrate = 128;
    d.sampleRate = 44100;
    d.gainDb = -3.5f;
    d.agcSpeed = 0.0075f;
    d.compThreshDb = -30.0f;
    d.compRatio = 4.0f;
    d.compEnabled = true;
    d.loudnessTarget = -14.0f;
    d.truePeakCeilingDb = -2.0f;
    d.persistentEncoding = true;
    d.deviceIndex = 1;
    CopyDialogText(d.deviceEndpointId, kDevices[1].id);
    ReadBackDialogData(d, l.store, l.settings, kDevices);

    EXPECT_EQ(l.store.GetInt("Encoder", "bitrate", 0), 128000);
    EXPECT_EQ(l.store.GetString("Encoder", "heVersion", ""), "0");
    EXPECT_EQ(l.store.GetInt("DSP", "gainDb", 0), -35);
    EXPECT_EQ(l.store.GetInt("DSP", "agcSpeed", 0), 75);
    EXPECT_EQ(l.store.GetInt("DSP", "compThreshDb", 0), -300);
    EXPECT_EQ(l.store.GetInt("DSP", "loudnessTarget", 0), -140);
    EXPECT_EQ(l.store.GetInt("DSP", "loudnessMaxGainDb", 0), 180);
    EXPECT_EQ(l.store.GetInt("DSP", "truePeakCeilingDb", 0), -20);
    EXPECT_EQ(l.store.GetString("Icecast", "password", ""), "secret");
    EXPECT_EQ(l.store.GetString("Custom", "kept", ""), "1");
    EXPECT_TRUE(l.store.GetBool("System", "persistentEncoding", false));

    const EngineConfig& s = l.settings.stream;
    EXPECT_EQ(s.encoder.bitrate, 128000u);
    EXPECT_EQ(s.server.contentCode, kContentCodeAac);
    EXPECT_EQ(s.server.streamBitrate, 128000u);
    EXPECT_EQ(l.settings.statusAddress, "radio.example:8000/live");
    EXPECT_TRUE(s.processing.mono);
    EXPECT_TRUE(s.processing.compEnabled);
    EXPECT_FLOAT_EQ(s.processing.compAttackMs, 5.0f);
    EXPECT_FLOAT_EQ(s.processing.compReleaseMs, 45.0f);
    EXPECT_FLOAT_EQ(s.processing.loudnessTarget, -14.0f);
    EXPECT_FLOAT_EQ(s.processing.truePeakCeilingDb, -2.0f);
    EXPECT_EQ(s.processing.codecBitrate, 128000u);
    EXPECT_TRUE(l.settings.persistentEncoding);

    // What the next start reads back is what was written.
    AppSettings reloaded;
    ApplyStoredSettings(l.store, reloaded, kDevices);
    EXPECT_EQ(reloaded.stream.encoder.bitrate, 128000u);
    EXPECT_FLOAT_EQ(reloaded.stream.processing.gainDb, -3.5f);
    EXPECT_FLOAT_EQ(reloaded.stream.processing.agcSpeed, 0.0075f);
}

// Every switch travels on its own key: from the dialog into the store and the running
// parameters, and back at the next start and the next opening of the dialog.
TEST(SettingsApplyTest, EachSwitchRoundTripsOnItsOwnKey)
{
    const struct {
        const char* key;
        bool SettingsDialogData::*dialog;
        bool ProcessingParams::*params;
    } switches[] = {
        {"hpfEnabled", &SettingsDialogData::hpfEnabled, &ProcessingParams::hpfEnabled},
        {"gateEnabled", &SettingsDialogData::gateEnabled, &ProcessingParams::gateEnabled},
        {"gainEnabled", &SettingsDialogData::gainEnabled, &ProcessingParams::gainEnabled},
        {"agcEnabled", &SettingsDialogData::agcEnabled, &ProcessingParams::agcEnabled},
        {"compEnabled", &SettingsDialogData::compEnabled, &ProcessingParams::compEnabled},
        {"boostEnabled", &SettingsDialogData::boostEnabled, &ProcessingParams::boostEnabled},
        {"bassEnabled", &SettingsDialogData::bassEnabled, &ProcessingParams::bassEnabled},
        {"stereoWidthEnabled", &SettingsDialogData::stereoWidthEnabled, &ProcessingParams::stereoWidthEnabled},
        {"limiterEnabled", &SettingsDialogData::limiterEnabled, &ProcessingParams::limiterEnabled},
        {"codecPreEnabled", &SettingsDialogData::codecPreEnabled, &ProcessingParams::codecPreEnabled},
        {"loudnessEnabled", &SettingsDialogData::loudnessEnabled, &ProcessingParams::loudnessEnabled},
        {"truePeakEnabled", &SettingsDialogData::truePeakEnabled, &ProcessingParams::truePeakEnabled},
    };
    for (const auto& on : switches) {
        SCOPED_TRACE(on.key);
        Loaded l = Load("");
        SettingsDialogData d;
        FillDialogData(l.store, l.settings, d);
        d.*on.dialog = true;
        ReadBackDialogData(d, l.store, l.settings, kDevices);
        AppSettings reloaded;
        ApplyStoredSettings(l.store, reloaded, kDevices);
        SettingsDialogData again;
        FillDialogData(l.store, reloaded, again);
        for (const auto& s : switches) {
            const bool want = &s == &on;
            EXPECT_EQ(l.store.GetBool("DSP", s.key, !want), want) << s.key;
            EXPECT_EQ(l.settings.stream.processing.*s.params, want) << s.key;
            EXPECT_EQ(reloaded.stream.processing.*s.params, want) << s.key;
            EXPECT_EQ(again.*s.dialog, want) << s.key;
        }
    }
}

TEST(SettingsApplyTest, TheChosenDeviceWinsOverAStaleIdentifier)
{
    Loaded l = Load("[Audio]\ndeviceEndpointId={0.0.1.00000000}.{aaa}\n");
    SettingsDialogData d;
    FillDialogData(l.store, l.settings, d);
    EXPECT_EQ(d.deviceIndex, 0);

    d.deviceIndex = 1;
    CopyDialogText(d.deviceEndpointId, kDevices[1].id);
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_EQ(l.settings.inputDeviceName, "Line In");
    AppSettings restarted;
    ApplyStoredSettings(l.store, restarted, kDevices);
    EXPECT_EQ(restarted.stream.device.position, 1);

    d.deviceIndex = -1; // "(Default)"
    d.deviceEndpointId[0] = '\0';
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_EQ(l.settings.inputDeviceName, "(Default) - Microphone (USB)");
    ApplyStoredSettings(l.store, restarted, kDevices);
    EXPECT_EQ(restarted.stream.device.position, -1);

    d.deviceIndex = 5; // gone since: the default device, the stored index kept
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_EQ(l.settings.stream.device.position, -1);
    EXPECT_EQ(l.store.GetInt("Audio", "deviceIndex", 0), 5);
}

TEST(SettingsApplyTest, LongTextsAreCutToTheirFields)
{
    SettingsDialogData d;
    ClearDialogData(d);
    CopyDialogText(d.username, std::string(100, 'u'));
    EXPECT_EQ(DialogText(d.username), std::string(63, 'u'));
    EXPECT_EQ(sizeof d.address, 512u);

    // A title of 2-byte characters whose 64th would straddle the 127-byte limit: 63 of
    // them fit (126 bytes), the next is dropped whole. So with 3- and 4-byte ones.
    std::string title;
    for (int i = 0; i < 148; ++i)
        title += "\xc3\xa9"; // 296 bytes
    CopyDialogText(d.streamName, title);
    EXPECT_EQ(DialogText(d.streamName), title.substr(0, 126));
    EXPECT_EQ(kStreamNameBytes, 127u);
    EXPECT_EQ(kPasswordBytes, 127u);
    EXPECT_EQ(kHostBytes, 255u);
    EXPECT_EQ(kMountPointBytes, 127u);
    EXPECT_EQ(kAddressBytes, 511u);
}

TEST(SettingsApplyTest, TextIsCutOnACharacterBoundary)
{
    const std::string dash = "\xe2\x80\x93";      // U+2013, 3 bytes
    const std::string emoji = "\xf0\x9f\x8e\xb5"; // U+1F3B5, 4 bytes
    const struct {
        std::string text;
        size_t limit;
        std::string kept;
    } cases[] = {
        {"abc", 3, "abc"},
        {"abcd", 3, "abc"},
        {"a" + dash, 3, "a"},
        {"a" + dash, 4, "a" + dash},
        {"ab" + emoji, 5, "ab"},
        {"ab" + emoji, 6, "ab" + emoji},
        {emoji + emoji, 7, emoji},
        {"", 0, ""},
        {dash, 0, ""},
        {"\x80\x80\x80\x80\x80x", 3, "\x80\x80\x80"}, // not UTF-8: cut where asked
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::string(Utf8Prefix(c.text, c.limit)), c.kept) << c.text << " " << c.limit;
}

// The dialog does not edit the genre and hands it back empty: OK keeps the stored one,
// and a confirmed address keeps the raw port for the start to refuse.
TEST(SettingsApplyTest, OkKeepsTheGenreAndTheRawPort)
{
    Loaded l = Load("[Icecast]\nhost=h\nport=8000\nstreamGenre=Jazz & Blues\n");
    SettingsDialogData d;
    FillDialogData(l.store, l.settings, d);
    for (int ok = 0; ok < 2; ++ok) {
        CopyDialogText(d.streamGenre, ""); // as the dialog's OK leaves it
        ReadBackDialogData(d, l.store, l.settings, kDevices);
        EXPECT_EQ(l.store.GetString("Icecast", "streamGenre", ""), "Jazz & Blues") << ok;
        EXPECT_EQ(l.settings.stream.server.streamGenre, "Jazz & Blues") << ok;
        FillDialogData(l.store, l.settings, d);
    }
    Loaded none = Load("[Icecast]\nhost=h\n");
    FillDialogData(none.store, none.settings, d);
    ReadBackDialogData(d, none.store, none.settings, kDevices);
    EXPECT_EQ(none.store.GetString("Icecast", "streamGenre", "absent"), "absent");

    d.port = 99999;
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_EQ(l.settings.stream.configuredPort, 99999);
    EXPECT_EQ(l.store.GetInt("Icecast", "port", 0), 99999);
}

// A hand-written config.ini: the port is kept as written, whatever server.port holds,
// and a start refuses it naming the value; no port at all is the usual port 0.
TEST(SettingsApplyTest, HandWrittenPortOutsideTheRangeIsKeptRaw)
{
    const struct {
        const char* port;
        int64_t configured;
        bool refused;
    } cases[] = {
        {"99999", 99999, true}, {"70000", 70000, true}, {"-1", -1, true}, {"65535", 65535, false},
        {"8000", 8000, false},  {"", 0, false},         {"abc", 0, false},
    };
    for (const auto& c : cases) {
        const Loaded l = Load(std::string("[Icecast]\nhost=h\nport=") + c.port + "\n");
        EXPECT_EQ(l.settings.stream.configuredPort, c.configured) << c.port;
        const std::string problem = ServerPortProblem(l.settings.stream.configuredPort);
        EXPECT_EQ(!problem.empty(), c.refused) << c.port;
        if (c.refused) {
            EXPECT_NE(problem.find(c.port), std::string::npos) << problem;
        }
    }
    // The address the dialog shows for a stored port of 0 has no ":0".
    SettingsDialogData d;
    const Loaded bare = Load("[Icecast]\nhost=h\nmountPoint=live\n");
    FillDialogData(bare.store, bare.settings, d);
    EXPECT_STREQ(d.address, "h/live");
}

// TLS through the dialog: the address shows "https://" while it is on, OK stores what the
// address says, and the CA file and fingerprint, which no control edits, stay stored.
TEST(SettingsApplyTest, TlsSurvivesTheDialogThroughTheAddress)
{
    const std::string fingerprint(64, 'a');
    Loaded l = Load("[Icecast]\nhost=radio.example\nport=8443\nmountPoint=live\ntlsEnabled=true\n"
                    "tlsCaFile=/srv/ca.pem\ntlsFingerprint=" + fingerprint + "\n");
    SettingsDialogData d;
    FillDialogData(l.store, l.settings, d);
    EXPECT_STREQ(d.address, "https://radio.example:8443/live");
    EXPECT_TRUE(d.tlsEnabled);
    EXPECT_STREQ(d.tlsCaFile, "/srv/ca.pem");
    EXPECT_EQ(DialogText(d.tlsFingerprint), fingerprint);

    // Confirmed unchanged: still on, nothing lost.
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_TRUE(l.store.GetBool("Icecast", "tlsEnabled", false));
    EXPECT_EQ(l.store.GetString("Icecast", "tlsCaFile", ""), "/srv/ca.pem");
    EXPECT_EQ(l.store.GetString("Icecast", "tlsFingerprint", ""), fingerprint);
    EXPECT_TRUE(l.settings.stream.server.tls.enabled);
    FillDialogData(l.store, l.settings, d);
    EXPECT_STREQ(d.address, "https://radio.example:8443/live");

    // The address typed without the scheme (as the dialog's OK reads it): TLS goes off,
    // the certificates stay for when it comes back.
    d.tlsEnabled = SplitServerAddress("radio.example:8000/live").secure;
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_FALSE(l.store.GetBool("Icecast", "tlsEnabled", true));
    EXPECT_FALSE(l.settings.stream.server.tls.enabled);
    EXPECT_EQ(l.settings.stream.server.tls.caFile, "/srv/ca.pem");
    EXPECT_EQ(l.store.GetString("Icecast", "tlsFingerprint", ""), fingerprint);
    FillDialogData(l.store, l.settings, d);
    EXPECT_STREQ(d.address, "radio.example:8443/live");

    // An IPv6 host is shown in brackets, also in the status address.
    const Loaded v6 = Load("[Icecast]\nhost=::1\nport=8005\nmountPoint=/live\n");
    FillDialogData(v6.store, v6.settings, d);
    EXPECT_STREQ(d.address, "[::1]:8005/live");
    EXPECT_FALSE(d.tlsEnabled);
    EXPECT_EQ(v6.settings.statusAddress, "[::1]:8000/live");
}

// The dialog's "Record" switch and folder: filled from the store as written (an empty
// folder stays empty, meaning the default), taken back into the store and into the
// stream, the default resolved beside the settings file; the split length, which the
// dialog does not show, stays as stored.
TEST(SettingsApplyTest, RecordingSwitchAndFolderRoundTrip)
{
    Loaded l = Load("[System]\nrecordSplitMinutes=15\n");
    SettingsDialogData d;
    FillDialogData(l.store, l.settings, d);
    EXPECT_FALSE(d.recordEnabled);
    EXPECT_STREQ(d.recordFolder, "");

    d.recordEnabled = true;
    CopyDialogText(d.recordFolder, "E:\\Archiv \xc3\xbc");
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_TRUE(l.store.GetBool("System", "recordEnabled", false));
    EXPECT_EQ(l.store.GetString("System", "recordFolder", ""), "E:\\Archiv \xc3\xbc");
    EXPECT_TRUE(l.settings.stream.recordEnabled);
    EXPECT_EQ(l.settings.stream.recordFolder, "E:\\Archiv \xc3\xbc");
    EXPECT_EQ(l.settings.stream.recordSplitMinutes, 15);
    SettingsDialogData again;
    FillDialogData(l.store, l.settings, again);
    EXPECT_TRUE(again.recordEnabled);
    EXPECT_STREQ(again.recordFolder, "E:\\Archiv \xc3\xbc");

    // Emptied again: the folder beside the settings file.
    CopyDialogText(again.recordFolder, "");
    ReadBackDialogData(again, l.store, l.settings, kDevices);
    EXPECT_EQ(l.store.GetString("System", "recordFolder", "x"), "");
    EXPECT_EQ(l.settings.stream.recordFolder, l.store.Folder() + "recordings");
    EXPECT_EQ(l.store.GetInt("System", "recordSplitMinutes", 0), 15);
}

// Further outputs through the dialog: filled with the values in effect and which keys
// their sections hold; confirmed unchanged, every section stays as it was (encoding keys
// the dialog does not show included); an edited field writes only what differs from the
// first output; a removed output's section goes.
TEST(SettingsApplyTest, FurtherOutputsRoundTripThroughTheDialog)
{
    const std::string ini = "[Icecast]\nhost=radio.example\nport=8005\nmountPoint=live\npassword=pw\n"
                            "[Output2]\nhost=backup.example\nport=8000\nbitrate=128000\nheVersion=0\n"
                            "[Output3]\nenabled=no\nmountPoint=/hq\npassword=pw3\n[Output6]\ntlsEnabled=true\n";
    Loaded l = Load(ini);
    const SettingsStore before = l.store;
    SettingsDialogData d;
    FillDialogData(l.store, l.settings, d);
    const DialogOutput& two = d.outputs[0];
    EXPECT_TRUE(two.present && two.enabled);
    EXPECT_STREQ(two.address, "backup.example:8000/live"); // the mount point follows the first
    EXPECT_TRUE(two.ownHost && two.ownPort && !two.ownMountPoint && !two.ownPassword);
    EXPECT_STREQ(two.password, "pw");
    EXPECT_TRUE(d.outputs[1].present && !d.outputs[1].enabled);
    EXPECT_STREQ(d.outputs[1].address, "radio.example:8005/hq");
    EXPECT_FALSE(d.outputs[2].present);
    EXPECT_STREQ(d.outputs[4].address, "https://radio.example:8005/live");

    ReadBackDialogData(d, l.store, l.settings, kDevices);
    for (size_t number = 2; number <= kMaxOutputs; ++number) {
        const std::string section = OutputSection(number);
        EXPECT_EQ(l.store.GetSections().count(section), before.GetSections().count(section)) << section;
        if (before.GetSections().count(section)) {
            EXPECT_EQ(l.store.GetSections().at(section), before.GetSections().at(section)) << section;
        }
    }

    // Output 2 off, output 3 removed, output 4 added on another mount of the first
    // server with the first's password and a title of its own.
    d.outputs[0].enabled = false;
    d.outputs[1].present = false;
    DialogOutput& four = d.outputs[2];
    ClearDialogOutput(four);
    four.present = four.enabled = true;
    four.addressEdited = four.passwordEdited = four.streamNameEdited = true;
    CopyDialogText(four.host, "radio.example");
    four.port = 8005;
    CopyDialogText(four.mountPoint, "/mobile");
    CopyDialogText(four.password, "pw");
    CopyDialogText(four.streamName, "Mobile");
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_EQ(l.store.GetString("Output2", "enabled", ""), "false");
    EXPECT_EQ(l.store.GetInt("Output2", "bitrate", 0), 128000);
    EXPECT_EQ(l.store.GetSections().count("Output3"), 0u);
    const SettingsStore::Section wanted{{"mountPoint", "/mobile"}, {"streamName", "Mobile"}};
    EXPECT_EQ(l.store.GetSections().at("Output4"), wanted);
    EXPECT_FALSE(l.settings.outputs[0].enabled);
    EXPECT_FALSE(l.settings.outputs[1].present);
    EXPECT_EQ(l.settings.outputs[2].stream.server.mountPoint, "/mobile");
    EXPECT_EQ(l.settings.outputs[2].stream.server.password, "pw");

    // Enabled again: the key stays, now true. A file from before holds no output and
    // gains none.
    d.outputs[0].enabled = true;
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_TRUE(l.store.GetBool("Output2", "enabled", false));
    // Removed and added again in one session: nothing of the old section is left.
    ClearDialogOutput(d.outputs[0]);
    d.outputs[0].present = d.outputs[0].added = d.outputs[0].enabled = true;
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_TRUE(l.store.GetSections().at("Output2").empty());
    Loaded old = Load("[Icecast]\nhost=h\n");
    FillDialogData(old.store, old.settings, d);
    ReadBackDialogData(d, old.store, old.settings, kDevices);
    for (const auto& [name, keys] : old.store.GetSections())
        EXPECT_NE(name.rfind("Output", 0), 0u) << name;
}

// The server type: untouched, OK writes no key (a file from before stays Icecast and an
// unknown hand-written value stays as written); chosen, the first output's key and a
// further output's where it differs from the first's.
TEST(SettingsApplyTest, ServerTypeIsWrittenOnlyOnceChosen)
{
    Loaded l = Load("[Icecast]\nhost=h\nport=8000\n[Output2]\nport=9000\n[Output3]\nserverType=shoutcast9\n");
    SettingsDialogData d;
    FillDialogData(l.store, l.settings, d);
    EXPECT_EQ(d.serverType, 0u);
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_EQ(l.store.GetString("Icecast", "serverType", "-"), "-");
    EXPECT_EQ(l.store.GetString("Output3", "serverType", "-"), "shoutcast9");

    d.serverType = static_cast<uint32_t>(ServerType::Shoutcast2);
    d.serverTypeEdited = true;
    d.outputs[0].serverType = static_cast<uint32_t>(ServerType::Shoutcast1);
    d.outputs[0].serverTypeEdited = true;
    d.outputs[1].serverType = static_cast<uint32_t>(ServerType::Shoutcast2);
    d.outputs[1].serverTypeEdited = true;
    ReadBackDialogData(d, l.store, l.settings, kDevices);
    EXPECT_EQ(l.store.GetString("Icecast", "serverType", ""), "shoutcast2");
    EXPECT_EQ(l.store.GetString("Output2", "serverType", ""), "shoutcast1");
    EXPECT_EQ(l.store.GetString("Output3", "serverType", ""), "shoutcast2"); // held the key
    EXPECT_EQ(l.settings.stream.server.serverType, ServerType::Shoutcast2);
    EXPECT_EQ(l.settings.outputs[0].stream.server.serverType, ServerType::Shoutcast1);
    EXPECT_TRUE(l.settings.outputs[1].stream.serverTypeProblem.empty());
}

} // namespace
