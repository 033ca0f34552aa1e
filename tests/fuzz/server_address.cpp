// The connection test's "[http://|https://]host:port/mount" splitting.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "icecast/ConnectionTest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string host;
    std::string mount;
    uint32_t port = 0;
    const bool valid = ParseServerAddress(std::string(reinterpret_cast<const char*>(data), size), host, port, mount);
    if (valid && (host.empty() || port < 1 || port > 65535 || mount.size() < 2 || mount[0] != '/'))
        std::abort();
    return 0;
}
