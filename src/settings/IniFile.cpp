#include "settings/IniFile.h"

namespace {

std::string Trim(const std::string& text, const char* blanks)
{
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

} // namespace

bool IniFile::Parse(const std::string& path, SettingsStore& store)
{
    std::string text;
    if (!ReadRegularFile(path, text, false))
        return false;
    ParseText(text, store);
    return true;
}

void IniFile::ParseText(const std::string& text, SettingsStore& store)
{
    std::string section;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trim(text.substr(start, end - start), " \t\r\n");
        start = end + 1;

        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || section.empty())
            continue;
        std::string key = line.substr(0, eq);
        key.erase(key.find_last_not_of(" \t") + 1);
        std::string value = line.substr(eq + 1);
        value.erase(0, value.find_first_not_of(" \t") == std::string::npos ? value.size()
                                                                           : value.find_first_not_of(" \t"));
        store.SetString(section, key, value);
    }
}
