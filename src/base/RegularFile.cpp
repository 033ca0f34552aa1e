#include "base/RegularFile.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "base/ExecutablePath.h"

PathKind KindOfPath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(Utf8Path(path), error);
    if (status.type() == std::filesystem::file_type::regular)
        return PathKind::RegularFile;
    if (status.type() == std::filesystem::file_type::not_found || status.type() == std::filesystem::file_type::none)
        return PathKind::Missing;
    return error ? PathKind::Missing : PathKind::Other;
}

bool ReadRegularFile(const std::string& path, std::string& out, bool binary, size_t maxBytes)
{
    out.clear();
    // Only a regular file is opened: a FIFO would block the open, a folder would throw
    // from the read.
    if (KindOfPath(path) != PathKind::RegularFile)
        return false;
    try {
        std::ifstream in(Utf8Path(path), binary ? std::ios::binary : std::ios::in);
        if (!in)
            return false;
        std::vector<char> block(64 * 1024);
        while (out.size() < maxBytes && in) {
            const size_t wanted = std::min(block.size(), maxBytes - out.size());
            in.read(block.data(), static_cast<std::streamsize>(wanted));
            const std::streamsize got = in.gcount();
            if (got <= 0)
                break;
            out.append(block.data(), static_cast<size_t>(got));
        }
        return !in.bad();
    } catch (const std::exception&) {
        out.clear();
        return false;
    }
}
