#include "cli/OutputFile.h"

#include <chrono>
#include <cstdint>
#include <system_error>

#include "base/ExecutablePath.h"
#include "base/NewFile.h"

namespace {

// More hops than any sane chain; a loop of links fails instead of spinning.
constexpr int kMaxLinkHops = 40;
constexpr int kTemporaryAttempts = 100;

} // namespace

bool ResolveOutputFile(const std::string& out, std::filesystem::path& target, std::string& error)
{
    namespace fs = std::filesystem;
    if (out.empty()) {
        error = "the output file name is empty";
        return false;
    }
    fs::path path = Utf8Path(out);
    std::error_code ec;
    for (int hop = 0;; ++hop) {
        const fs::file_status link = fs::symlink_status(path, ec);
        if (!fs::is_symlink(link))
            break;
        if (hop == kMaxLinkHops) {
            error = "too many levels of symbolic links";
            return false;
        }
        const fs::path next = fs::read_symlink(path, ec);
        if (ec) {
            error = "cannot read the symbolic link";
            return false;
        }
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    const fs::file_status status = fs::status(path, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        error = "not a regular file";
        return false;
    }
    target = path;
    return true;
}

bool CreateTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temporary, std::string& error)
{
    // The number only spreads the names; CreateNewFile is what rules out a collision.
    uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        // Appended piece by piece: GCC 12 warns falsely about operator+ here at -O3.
        std::filesystem::path candidate = target;
        candidate += ".";
        candidate += std::to_string(seed >> 44);
        candidate += ".part";
        bool exists = false;
        if (CreateNewFile(candidate, exists)) {
            temporary = candidate;
            return true;
        }
        if (!exists)
            break;
    }
    error = "cannot create a temporary file beside it";
    return false;
}

bool CreateNewFile(const std::filesystem::path& path, bool& alreadyExists)
{
    NewFile file;
    const bool created = file.Create(path);
    alreadyExists = file.AlreadyExisted();
    return created;
}
