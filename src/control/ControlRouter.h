#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "control/ControlSnapshot.h"

// What the control interface does with a request, apart from the HTTP server that
// parsed it: authorisation, the endpoints and their answers. Pure but for the actions
// it is handed, so every answer can be tested and fuzzed without a socket.

struct ControlRequest {
    std::string method;
    std::string path;
    // Query parameters, and those of a form body, as the server decoded them.
    std::vector<std::pair<std::string, std::string>> params;
    std::string authorization; // the Authorization header, "" when absent
    std::string contentType;
    std::string body;
};

struct ControlReply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::string authenticate; // WWW-Authenticate, with a 401
    std::string allow;        // Allow, with a 405
};

enum class ControlCommand { Start, Stop };

// How a start or a stop ended: the HTTP status and the JSON answer.
struct ControlOutcome {
    int status = 200;
    std::string body;
};

// What the interface asks of the running encoder. Each may fail to answer in time.
struct ControlActions {
    std::function<std::optional<ControlSnapshot>()> snapshot;
    std::function<std::optional<ControlOutcome>(ControlCommand command)> command;
    // Sends title to output's server: "" when it took it, else why not.
    std::function<std::string(const OutputSnapshot& output, const std::string& title)> sendTitle;
    // A line for the log about what a request did (texts from it already made safe).
    std::function<void(const std::string& line)> log;
};

// The largest request body taken; a title is at most 255 bytes.
inline constexpr size_t kMaxControlBody = 4096;

ControlReply RouteControlRequest(const ControlRequest& request, const std::string& token, const ControlActions& actions);

// The answer to a request the server refused before routing (a header too long, a body
// too large): a one-line reason as JSON.
ControlReply RefusedRequest(int status, const std::string& reason);
