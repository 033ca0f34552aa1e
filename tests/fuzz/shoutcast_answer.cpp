// A Shoutcast server's words: the v1 answer to the password line, Ultravox messages and
// their ACK or NAK, and the statistics documents of DNAS 1 and 2.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "icecast/ShoutcastProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    IcecastConfig config;
    config.streamId = 2;
    if (ReadShoutcastAnswer(bytes) != ShoutcastAnswer::Accepted && ShoutcastFailureText(bytes).empty())
        std::abort();
    // Every message read from the stream lies within it, and reads the same framed anew.
    std::string_view rest = bytes;
    for (;;) {
        UltravoxMessage message;
        bool malformed = false;
        const size_t used = ParseUltravoxMessage(rest, message, malformed);
        if (used == 0)
            break;
        if (used > rest.size() || used != message.payload.size() + ultravox::kFrameBytes)
            std::abort();
        std::string framed;
        AppendUltravoxMessage(framed, message.type, message.payload);
        // The reserved byte (the second) is written 0 whatever was read.
        if (framed.size() != used || framed.substr(2) != rest.substr(2, used - 2))
            std::abort();
        if (!UltravoxAckValue(message.payload) && UltravoxRefusalText(message.type, message.payload, config).empty())
            std::abort();
        rest.remove_prefix(used);
    }
    StatusResult result;
    if (ReadShoutcastStats(bytes, result) || ReadSevenHtml(bytes, result)) {
        for (const std::string* text : {&result.serverName, &result.title}) {
            for (const char c : *text) {
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                    std::abort();
            }
        }
    }
    return 0;
}
