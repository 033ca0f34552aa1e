#include "base/ExecutablePath.h"

std::string DirectoryOf(const std::string& path)
{
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos)
        return {};
    return path.substr(0, cut + 1);
}

std::filesystem::path Utf8Path(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string PathText(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
