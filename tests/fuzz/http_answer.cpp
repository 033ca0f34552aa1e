// The server's answer to a SOURCE request: the status line and the failure text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/Utf8.h"
#include "icecast/IcecastProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    const uint32_t status = ParseStatusCode(answer);
    if (status > 999)
        std::abort();
    const std::string text = HandshakeFailureText(status, answer, "/live");
    if (text.empty())
        std::abort();
    // What the log shows of an answer has no control character left.
    for (const char c : StripControlCharacters(answer)) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            std::abort();
    }
    return 0;
}
