// The connection test's "[http://|https://]host:port/mount" splitting.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "icecast/ServerAddress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::optional<ServerAddress> a =
        ParseServerAddress(std::string(reinterpret_cast<const char*>(data), size));
    if (a && (a->host.empty() || a->port < 1 || a->port > 65535 || a->mountPoint.size() < 2 ||
              a->mountPoint[0] != '/'))
        std::abort();
    return 0;
}
