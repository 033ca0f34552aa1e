#include "control/ControlRouter.h"

#include "base/Utf8.h"
#include "control/ControlAuth.h"
#include "control/ControlReports.h"
#include "engine/TitleWatcher.h"

namespace {

struct Endpoint {
    const char* path;
    const char* method;
};

constexpr Endpoint kEndpoints[] = {
    {"/status", "GET"}, {"/metrics", "GET"}, {"/start", "POST"},         {"/stop", "POST"},
    {"/title", "POST"}, {"/nowplaying", "GET"}, {"/admin/metadata", "GET"},
};

const std::string* Param(const ControlRequest& request, const std::string& name)
{
    for (const auto& [key, value] : request.params) {
        if (key == name)
            return &value;
    }
    return nullptr;
}

ControlReply Json(int status, const std::string& result, const std::string& message)
{
    ControlReply reply;
    reply.status = status;
    reply.body = ResultJson(result, message);
    return reply;
}

ControlReply NoAnswer()
{
    return Json(503, "busy", "the encoder did not answer in time; try again");
}

// The answer Icecast gives to a metadata update, which some playout systems look for.
ControlReply IcecastAnswer(int status, const std::string& message, bool success)
{
    ControlReply reply;
    reply.status = status;
    reply.contentType = "text/xml";
    std::string escaped;
    for (const char c : StripControlCharacters(message)) {
        switch (c) {
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '&': escaped += "&amp;"; break;
        default: escaped += c;
        }
    }
    reply.body = "<?xml version=\"1.0\"?>\n<iceresponse><message>" + escaped + "</message><return>" +
                 (success ? "1" : "0") + "</return></iceresponse>\n";
    return reply;
}

// Sends title to every output the session streams to, as the title command does.
// status 200 when each took it; 502 with the reasons otherwise.
ControlReply SendTitle(const std::string& rawTitle, const ControlActions& actions, bool icecastStyle)
{
    const std::string title = TitleLine(rawTitle, kMaxTitleBytes);
    if (title.empty())
        return icecastStyle ? IcecastAnswer(400, "No metadata given", false) : Json(400, "refused", "the title is empty");
    const std::optional<ControlSnapshot> snapshot = actions.snapshot();
    if (!snapshot)
        return icecastStyle ? IcecastAnswer(503, "The encoder did not answer in time", false) : NoAnswer();
    std::string failures;
    for (const OutputSnapshot& output : snapshot->outputs) {
        const std::string reason = actions.sendTitle(output, title);
        if (reason.empty())
            continue;
        failures += (failures.empty() ? "" : "; ") + output.name + ": " + reason;
    }
    if (actions.log)
        actions.log("title " + StripControlCharacters(title) + (failures.empty() ? "" : " (" + failures + ")"));
    if (!failures.empty())
        return icecastStyle ? IcecastAnswer(502, failures, false) : Json(502, "failed", failures);
    return icecastStyle ? IcecastAnswer(200, "Metadata update successful", true)
                        : Json(200, "sent", "title sent to " + std::to_string(snapshot->outputs.size()) +
                                                (snapshot->outputs.size() == 1 ? " output" : " outputs"));
}

ControlReply Command(ControlCommand command, const ControlActions& actions)
{
    const std::optional<ControlOutcome> outcome = actions.command(command);
    if (!outcome)
        return NoAnswer();
    ControlReply reply;
    reply.status = outcome->status;
    reply.body = outcome->body;
    return reply;
}

ControlReply Serve(const ControlRequest& request, const std::string& path, const ControlActions& actions)
{
    if (path == "/status" || path == "/metrics") {
        const std::optional<ControlSnapshot> snapshot = actions.snapshot();
        if (!snapshot)
            return NoAnswer();
        ControlReply reply;
        if (path == "/status") {
            reply.body = StatusJson(*snapshot);
        } else {
            reply.contentType = "text/plain; version=0.0.4; charset=utf-8";
            reply.body = MetricsText(*snapshot);
        }
        return reply;
    }
    if (path == "/start")
        return Command(ControlCommand::Start, actions);
    if (path == "/stop")
        return Command(ControlCommand::Stop, actions);
    if (path == "/title") {
        const std::string* text = Param(request, "text");
        return SendTitle(text ? *text : request.body, actions, false);
    }
    if (path == "/nowplaying") {
        const std::string* artist = Param(request, "artist");
        const std::string* title = Param(request, "title");
        const std::string a = artist ? TitleLine(*artist, kMaxTitleBytes) : std::string();
        const std::string t = title ? TitleLine(*title, kMaxTitleBytes) : std::string();
        return SendTitle(a.empty() || t.empty() ? a + t : a + " - " + t, actions, false);
    }
    // /admin/metadata, as Icecast takes it.
    const std::string* mode = Param(request, "mode");
    if (!mode || *mode != "updinfo")
        return IcecastAnswer(400, "Only mode=updinfo is supported", false);
    const std::string* song = Param(request, "song");
    return SendTitle(song ? *song : std::string(), actions, true);
}

} // namespace

ControlReply RefusedRequest(int status, const std::string& reason)
{
    return Json(status, "refused", reason);
}

ControlReply RouteControlRequest(const ControlRequest& request, const std::string& token, const ControlActions& actions)
{
    const Endpoint* endpoint = nullptr;
    for (const Endpoint& candidate : kEndpoints) {
        if (request.path == candidate.path)
            endpoint = &candidate;
    }
    if (!endpoint)
        return Json(404, "refused", "no such path");
    const bool icecastStyle = request.path == "/admin/metadata";
    // With a token set, every request carries it: as a bearer token, or as the password
    // of the Icecast-style request's Basic authorisation.
    if (!token.empty()) {
        const bool bearer = BearerMatches(request.authorization, token);
        const bool basic = icecastStyle && BasicPasswordMatches(request.authorization, token);
        if (!bearer && !basic) {
            ControlReply reply = icecastStyle ? IcecastAnswer(401, "Authentication required", false)
                                              : Json(401, "refused", "a valid token is needed");
            reply.authenticate = icecastStyle ? "Basic realm=\"Kelm Vantoro\"" : "Bearer realm=\"Kelm Vantoro\"";
            if (actions.log)
                actions.log("refused " + request.method + " " + endpoint->path + ": no valid token");
            return reply;
        }
    }
    // HEAD is answered as GET by the server, without the body.
    const bool get = request.method == "GET" || request.method == "HEAD";
    if (request.method != endpoint->method && !(get && std::string(endpoint->method) == "GET")) {
        ControlReply reply = Json(405, "refused", std::string("use ") + endpoint->method);
        reply.allow = endpoint->method;
        return reply;
    }
    if (request.body.size() > kMaxControlBody)
        return Json(413, "refused", "the body is too large");
    return Serve(request, endpoint->path, actions);
}
