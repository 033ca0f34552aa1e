// The status document: locating the source, the value matchers and the escapes. The
// first line of an input is the mount to look for, the rest the document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "icecast/StatusPoller.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t line = input.find('\n');
    const std::string mount = line == std::string::npos ? std::string() : input.substr(0, line);
    const std::string body = line == std::string::npos ? input : input.substr(line + 1);

    StatusResult result;
    PollStatus("h:8000" + mount, "", [&body](const std::string&) { return body; }, result);
    for (const std::string* text : {&result.serverName, &result.title}) {
        for (const char c : *text) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                std::abort();
        }
    }
    (void)FindJsonInt(body, "listeners", 0);
    (void)DecodeJsonString(body);
    return 0;
}
