// The control interface's routing of a request: method, path, query, Authorization and
// body from the input, one per line (the body is the rest). Every answer is one line
// with a status of 2xx to 5xx, and none carries the token.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "control/ControlRouter.h"

namespace {

std::string_view TakeLine(std::string_view& text)
{
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    ControlRequest request;
    request.method = std::string(TakeLine(input));
    request.path = std::string(TakeLine(input));
    std::string_view query = TakeLine(input);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const size_t eq = pair.find('=');
        request.params.emplace_back(std::string(pair.substr(0, eq)),
                                    eq == std::string_view::npos ? std::string() : std::string(pair.substr(eq + 1)));
        query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
    }
    request.authorization = std::string(TakeLine(input));
    request.body = std::string(input);

    const std::string token = "fuzz-token-0123456789";
    ControlActions actions;
    actions.snapshot = [] {
        ControlSnapshot snapshot;
        snapshot.outputs.resize(2);
        return std::optional<ControlSnapshot>(snapshot);
    };
    actions.command = [](ControlCommand) { return std::optional<ControlOutcome>(ControlOutcome{200, "{}\n"}); };
    actions.sendTitle = [](const OutputSnapshot&, const std::string& title) {
        return title.size() > 200 ? std::string("too long") : std::string();
    };
    const ControlReply reply = RouteControlRequest(request, token, actions);
    if (reply.status < 200 || reply.status > 599)
        std::abort();
    if (reply.body.find(token) != std::string::npos)
        std::abort();
    if (reply.contentType != "text/xml" && reply.body.find('\n') != reply.body.size() - 1 && reply.status != 200)
        std::abort();
    return 0;
}
