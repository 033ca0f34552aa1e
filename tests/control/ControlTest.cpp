#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/ControlAuth.h"
#include "control/ControlReports.h"
#include "control/ControlRouter.h"
#include "control/ControlSettings.h"
#include "icecast/Base64.h"

namespace {

TEST(ControlAuthTest, TokensAndCredentials)
{
    EXPECT_TRUE(SameSecret("abc", "abc"));
    EXPECT_FALSE(SameSecret("abc", "abd"));
    EXPECT_FALSE(SameSecret("abc", "abcd"));
    EXPECT_FALSE(SameSecret("", "a"));
    EXPECT_TRUE(SameSecret("", ""));

    const struct {
        const char* header;
        bool bearer;
        bool basic;
    } cases[] = {
        {"Bearer s3cret", true, false},
        {"bearer   s3cret ", true, false},
        {"Bearer s3cret2", false, false},
        {"Bearers3cret", false, false},
        {"Bearer", false, false},
        {"", false, false},
        {"Basic c291cmNlOnMzY3JldA==", false, true},   // source:s3cret
        {"Basic YWRtaW46czNjcmV0OnM=", false, false},  // admin:s3cret:s, the password has the colon
        {"Basic czNjcmV0", false, false},              // no colon at all
        {"Basic !!!!", false, false},
        {"Basic c291cmNlOnMzY3JldA", false, false},    // not padded
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BearerMatches(c.header, "s3cret"), c.bearer) << c.header;
        EXPECT_EQ(BasicPasswordMatches(c.header, "s3cret"), c.basic) << c.header;
    }
    // No token never matches, whatever is sent.
    EXPECT_FALSE(BearerMatches("Bearer ", ""));
    EXPECT_FALSE(BasicPasswordMatches("Basic Og==", ""));
    for (const std::string text : {"", "a", "ab", "abc", "source:p\xc3\xa4ss\x01"})
        EXPECT_EQ(Base64Decode(Base64Encode(text)), text);
}

TEST(ControlSettingsTest, ListenAddresses)
{
    const struct {
        const char* listen;
        const char* token;
        bool accepted;
    } cases[] = {
        {"127.0.0.1:8090", "", true},
        {"127.10.0.2:1", "", true},
        {"[::1]:8090", "", true},
        {"localhost:8090", "", true},
        {"0.0.0.0:8090", "", false},
        {"studio.example:8090", "", false},
        {"127.0.0.1.example.com:80", "", false},
        {"[::]:8090", "", false},
        {"0.0.0.0:8090", "short", false},
        {"0.0.0.0:8090", "0123456789abcdef", true},
        {"127.0.0.1", "", false},
        {"127.0.0.1:0", "", false},
        {"127.0.0.1:65536", "", false},
        {"127.0.0.1:80x", "", false},
        {":8090", "", false},
    };
    for (const auto& c : cases) {
        ControlSettings settings;
        settings.listen = c.listen;
        settings.token = c.token;
        EXPECT_EQ(ControlSettingsProblem(settings).empty(), c.accepted) << c.listen << " " << c.token;
    }
    ControlSettings open;
    open.listen = "0.0.0.0:8090";
    EXPECT_NE(ControlSettingsProblem(open).find("reachable from other machines"), std::string::npos);
}

ControlSnapshot TwoOutputs()
{
    ControlSnapshot s;
    s.state = "online";
    OutputSnapshot first;
    first.number = 1;
    first.name = "127.0.0.1:8000/live";
    first.mount = "/live";
    first.connected = first.up = true;
    first.bytesSent = 12345678901;
    first.listeners = 3;
    first.title = "Tab\there \"quoted\" \xe9t\xe9";
    OutputSnapshot second = first;
    second.number = 2;
    second.mount = "/odd\"mount\\\n";
    second.connected = false;
    second.listeners = -1;
    s.outputs = {first, second};
    s.levelLeft = 0.5f;
    s.levelRight = 0.0f;
    s.loudnessMeasured = true;
    s.shortTermLufs = -16.25f;
    s.integratedLufs = -1.0f / 0.0f;
    s.truePeakDb = -1.5f;
    return s;
}

TEST(ControlReportsTest, MetricsAndStatus)
{
    const std::string metrics = MetricsText(TwoOutputs());
    for (const char* line : {
             "kelm_vantoro_output_sent_bytes_total{output=\"1\",mount=\"/live\"} 12345678901\n",
             "kelm_vantoro_output_connected{output=\"2\",mount=\"/odd\\\"mount\\\\\\n\"} 0\n",
             "kelm_vantoro_output_listeners{output=\"1\",mount=\"/live\"} 3\n",
             "kelm_vantoro_input_peak_dbfs{channel=\"left\"} -6.0206\n",
             "kelm_vantoro_input_peak_dbfs{channel=\"right\"} -Inf\n",
             "kelm_vantoro_loudness_integrated_lufs -Inf\n",
             "# TYPE kelm_vantoro_output_reconnects_total counter\n",
         })
        EXPECT_NE(metrics.find(line), std::string::npos) << line << "\n" << metrics;
    // An output whose listeners are unknown has no sample, rather than a made-up one.
    EXPECT_EQ(metrics.find("kelm_vantoro_output_listeners{output=\"2\""), std::string::npos);

    const std::string status = StatusJson(TwoOutputs());
    EXPECT_NE(status.find("\"title\":\"Tab\\u0009here \\\"quoted\\\" \xc3\xa9t\xc3\xa9\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"integratedLufs\":null"), std::string::npos) << status;
    EXPECT_NE(status.find("\"listeners\":null"), std::string::npos) << status;
    EXPECT_NE(status.find("\"bytesSent\":12345678901"), std::string::npos) << status;
}

// The router against actions that record what they were asked.
struct Recorder {
    std::vector<std::string> titles;
    std::vector<ControlCommand> commands;
    ControlActions Actions()
    {
        ControlActions actions;
        actions.snapshot = [] { return std::optional<ControlSnapshot>(TwoOutputs()); };
        actions.command = [this](ControlCommand command) {
            commands.push_back(command);
            return std::optional<ControlOutcome>(ControlOutcome{200, "{}"});
        };
        actions.sendTitle = [this](const OutputSnapshot& output, const std::string& title) {
            titles.push_back(std::to_string(output.number) + ":" + title);
            return std::string();
        };
        return actions;
    }
};

TEST(ControlRouterTest, AuthorisationMethodsAndTitles)
{
    const std::string token = "0123456789abcdef";
    const std::string bearer = "Bearer " + token;
    const std::string basic = "Basic " + Base64Encode("source:" + token);
    const struct {
        const char* method;
        const char* path;
        std::vector<std::pair<std::string, std::string>> params;
        std::string authorization;
        const char* body;
        int status;
        const char* title; // the title sent to output 1, "" none
    } cases[] = {
        {"GET", "/status", {}, bearer, "", 200, ""},
        {"GET", "/status", {}, "", "", 401, ""},
        {"GET", "/status", {}, basic, "", 401, ""},
        {"GET", "/metrics", {}, "Bearer wrong", "", 401, ""},
        {"GET", "/../status", {}, bearer, "", 404, ""},
        {"GET", "/STATUS", {}, bearer, "", 404, ""},
        {"GET", "/stop", {}, bearer, "", 405, ""},
        {"DELETE", "/status", {}, bearer, "", 405, ""},
        {"POST", "/title", {}, bearer, " Body \xe2\x80\x93 Title\r\nsecond line", 200, "Body \xe2\x80\x93 Title"},
        {"POST", "/title", {{"text", "Form"}}, bearer, "text=Form", 200, "Form"},
        {"POST", "/title", {}, bearer, "\x01\x02  ", 400, ""},
        {"GET", "/nowplaying", {{"artist", "A"}, {"title", "T"}}, bearer, "", 200, "A - T"},
        {"GET", "/nowplaying", {{"title", "Only"}}, bearer, "", 200, "Only"},
        {"GET", "/nowplaying", {}, bearer, "", 400, ""},
        {"GET", "/admin/metadata", {{"mode", "updinfo"}, {"song", "S"}}, basic, "", 200, "S"},
        {"GET", "/admin/metadata", {{"mode", "updinfo"}, {"song", "S"}}, bearer, "", 200, "S"},
        {"GET", "/admin/metadata", {{"mode", "killsource"}}, basic, "", 400, ""},
        {"GET", "/admin/metadata", {{"mode", "updinfo"}, {"song", "S"}}, "Basic " + Base64Encode("source:x"), "", 401, ""},
    };
    for (const auto& c : cases) {
        Recorder recorder;
        ControlRequest request{c.method, c.path, c.params, c.authorization, "", c.body};
        const ControlReply reply = RouteControlRequest(request, token, recorder.Actions());
        EXPECT_EQ(reply.status, c.status) << c.method << " " << c.path << " " << reply.body;
        EXPECT_EQ(reply.body.find(token), std::string::npos);
        // JSON in one line; the Icecast-style request gets Icecast's XML answer.
        if (reply.contentType != "text/xml") {
            EXPECT_EQ(reply.body.find('\n'), reply.body.size() - 1) << "one line: " << reply.body;
        }
        if (*c.title)
            EXPECT_EQ(recorder.titles, (std::vector<std::string>{std::string("1:") + c.title, std::string("2:") + c.title}));
        else
            EXPECT_TRUE(recorder.titles.empty()) << c.path;
        EXPECT_EQ(reply.status == 401, !reply.authenticate.empty());
    }
    // Without a token (loopback only) nothing is asked; a stop reaches the session.
    Recorder recorder;
    const ControlReply stopped = RouteControlRequest({"POST", "/stop", {}, "", "", ""}, "", recorder.Actions());
    EXPECT_EQ(stopped.status, 200);
    EXPECT_EQ(recorder.commands, std::vector<ControlCommand>{ControlCommand::Stop});
}

} // namespace
