#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "icecast/ServerAddress.h"

namespace {

// Which reading a case goes through: the dialog's stored form, the connection test's,
// the window's probe target (KV_PROBE_TARGET) and the command line's (--probe-target).
enum class Form { Stored, Connect, ProbeLeading, ProbeWhole };

struct Parsed {
    bool ok = false;
    std::string host;
    uint32_t port = 0;
    std::string mount;
};

Parsed Parse(Form form, const std::string& text)
{
    switch (form) {
    case Form::Stored: {
        const ServerAddress a = SplitServerAddress(text);
        return {true, a.host, a.port, a.mountPoint};
    }
    case Form::Connect: {
        const std::optional<ServerAddress> a = ParseServerAddress(text);
        return a ? Parsed{true, a->host, a->port, a->mountPoint} : Parsed{};
    }
    case Form::ProbeLeading:
    case Form::ProbeWhole: {
        const PortText portText = form == Form::ProbeWhole ? PortText::Whole : PortText::Leading;
        const std::optional<ProbeTarget> t = ParseProbeTarget(text, portText);
        return t ? Parsed{true, t->address, t->port, ""} : Parsed{};
    }
    }
    return {};
}

TEST(ServerAddressTest, EachFormReadsHostPortAndMount)
{
    const struct {
        Form form;
        const char* text;
        bool ok;
        const char* host;
        uint32_t port;
        const char* mount;
    } cases[] = {
        // Stored: scheme and trailing slashes dropped; port 0 when absent or not a number.
        {Form::Stored, "http://radio.example:8000/live/", true, "radio.example", 8000, "/live"},
        {Form::Stored, "https://radio.example:8000/live//", true, "radio.example", 8000, "/live"},
        {Form::Stored, "radio.example", true, "radio.example", 0, ""},
        {Form::Stored, "radio.example/live", true, "radio.example", 0, "/live"},
        {Form::Stored, "radio.example:abc/live", true, "radio.example", 0, "/live"},
        {Form::Stored, "radio.example:8005", true, "radio.example", 8005, ""},
        {Form::Stored, "h:8000/a/b", true, "h", 8000, "/a/b"},
        {Form::Stored, "", true, "", 0, ""},
        {Form::Stored, "HTTP://h:4294967295/m", true, "h", 4294967295u, "/m"},
        {Form::Stored, "h:4294967296/m", true, "h", 0, "/m"},
        {Form::Stored, "h:-80/m", true, "h", 0, "/m"},
        {Form::Stored, "[::1]:8000/live", true, "::1", 8000, "/live"},
        {Form::Stored, "https://[2001:db8::5]/live/", true, "2001:db8::5", 0, "/live"},
        {Form::Stored, "[::1]", true, "::1", 0, ""},
        {Form::Stored, "[::1]x:8000/m", true, "[::1]x", 8000, "/m"}, // no bracket form: split as it stands
        // Connect: host, port 1..65535 and a mount past "/" are required.
        {Form::Connect, "h:8000/live", true, "h", 8000, "/live"},
        {Form::Connect, "http://h:8000/live", true, "h", 8000, "/live"},
        {Form::Connect, "https://h:8000/live/x", true, "h", 8000, "/live/x"},
        {Form::Connect, "http://https://h:1/a", true, "h", 1, "/a"},
        {Form::Connect, "h:8000/live/", true, "h", 8000, "/live/"},
        {Form::Connect, "HTTP://h:8000/live", false, "", 0, ""},
        {Form::Connect, "a:b:65535/m", true, "a:b", 65535, "/m"},
        {Form::Connect, "h: +80x/m", true, "h", 80, "/m"},
        {Form::Connect, "[::1]:8000/live", true, "::1", 8000, "/live"},
        {Form::Connect, "https://[fe80::1%25]:8443/live", true, "fe80::1%25", 8443, "/live"},
        {Form::Connect, "[::1]/live", false, "", 0, ""},
        {Form::Connect, "[::1]:/live", false, "", 0, ""},
        {Form::Connect, "h:8000", false, "", 0, ""},
        {Form::Connect, "h/live", false, "", 0, ""},
        {Form::Connect, "h:0/live", false, "", 0, ""},
        {Form::Connect, "h:70000/live", false, "", 0, ""},
        {Form::Connect, "h:-5/live", false, "", 0, ""},
        {Form::Connect, "h:8000/", false, "", 0, ""},
        {Form::Connect, ":8000/live", false, "", 0, ""},
        {Form::Connect, "", false, "", 0, ""},
        {Form::Connect, "http://", false, "", 0, ""},
        // Probe targets: split at the last colon; the address must not be empty.
        {Form::ProbeLeading, "127.0.0.1:8000", true, "127.0.0.1", 8000, ""},
        {Form::ProbeLeading, "127.0.0.1:80x", true, "127.0.0.1", 80, ""},
        {Form::ProbeLeading, "a:b: 65535", true, "a:b", 65535, ""},
        {Form::ProbeLeading, ":8000", false, "", 0, ""},
        {Form::ProbeLeading, "[::1]:53", true, "::1", 53, ""},
        {Form::ProbeLeading, "[]:53", false, "", 0, ""},
        {Form::ProbeLeading, "127.0.0.1", false, "", 0, ""},
        {Form::ProbeLeading, "127.0.0.1:0", false, "", 0, ""},
        {Form::ProbeLeading, "127.0.0.1:65536", false, "", 0, ""},
        {Form::ProbeLeading, "127.0.0.1:4294967376", false, "", 0, ""},
        {Form::ProbeWhole, "127.0.0.1:8000", true, "127.0.0.1", 8000, ""},
        {Form::ProbeWhole, "127.0.0.1:+53", true, "127.0.0.1", 53, ""},
        {Form::ProbeWhole, "127.0.0.1:80x", false, "", 0, ""},
        {Form::ProbeWhole, "127.0.0.1:80 ", false, "", 0, ""},
        {Form::ProbeWhole, "127.0.0.1:", false, "", 0, ""},
        {Form::ProbeWhole, "127.0.0.1:+", false, "", 0, ""},
        {Form::ProbeWhole, ":53", false, "", 0, ""},
        {Form::ProbeWhole, "127.0.0.1:-53", false, "", 0, ""},
    };
    for (const auto& c : cases) {
        const Parsed p = Parse(c.form, c.text);
        EXPECT_EQ(p.ok, c.ok) << c.text;
        if (c.ok && p.ok) {
            EXPECT_EQ(p.host, c.host) << c.text;
            EXPECT_EQ(p.port, c.port) << c.text;
            EXPECT_EQ(p.mount, c.mount) << c.text;
        }
    }
}

// What the dialog shows is read back as it was: the scheme carries the TLS switch, and
// an IPv6 host is written in brackets and read without them.
TEST(ServerAddressTest, ShownAddressRoundTrips)
{
    const struct {
        const char* host;
        uint32_t port;
        const char* mount;
        bool secure;
        const char* text;
    } cases[] = {
        {"radio.example", 8000, "/live", false, "radio.example:8000/live"},
        {"radio.example", 8443, "live", true, "https://radio.example:8443/live"},
        {"radio.example", 0, "", true, "https://radio.example"},
        {"::1", 8000, "/live", false, "[::1]:8000/live"},
        {"2001:db8::5", 8443, "/live", true, "https://[2001:db8::5]:8443/live"},
        {"127.0.0.1", 8005, "/a/b", false, "127.0.0.1:8005/a/b"},
    };
    for (const auto& c : cases) {
        const std::string text = CombineServerAddress(c.host, c.port, c.mount, c.secure);
        EXPECT_EQ(text, c.text);
        const ServerAddress back = SplitServerAddress(text);
        EXPECT_EQ(back.host, c.host) << text;
        EXPECT_EQ(back.port, c.port) << text;
        std::string mount = c.mount;
        if (!mount.empty() && mount.front() != '/')
            mount.insert(mount.begin(), '/');
        EXPECT_EQ(back.mountPoint, mount) << text;
        EXPECT_EQ(back.secure, c.secure) << text;
        EXPECT_EQ(back.bracketed, std::string(c.host).find(':') != std::string::npos) << text;
    }
    EXPECT_EQ(CombineServerAddress("", 8000, "/live", true), "");

    // Only an https scheme, in any case, is secure; any other scheme or none is plain.
    const struct {
        const char* text;
        bool secure;
    } schemes[] = {
        {"HTTPS://h:8443/live", true}, {"Https://h/live", true}, {"http://h:8000/live", false},
        {"h:8000/live", false},        {"icecast://h/live", false}, {"httpss://h/live", false},
        {"https:/h/live", false},
    };
    for (const auto& c : schemes) {
        EXPECT_EQ(SplitServerAddress(c.text).secure, c.secure) << c.text;
        EXPECT_EQ(SplitServerAddress(c.text).hasScheme, std::string(c.text).find("://") != std::string::npos)
            << c.text;
    }
}

} // namespace
