#include "settings/SettingsStore.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "base/ExecutablePath.h"
#include "settings/IniFile.h"
#include "settings/SettingsFile.h"

int32_t ParseStoredInt(const std::string& text, int32_t fallback)
{
    if (text.empty())
        return fallback;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE)
        return fallback;
    if (value < INT32_MIN || value > INT32_MAX)
        return fallback;
    return static_cast<int32_t>(value);
}

bool SettingsStore::LoadSettingsFile(const std::string& path)
{
    folder = DirectoryOf(path);
    std::string image;
    if (ReadRegularFile(path, image) && image.size() > kSettingsHeaderSize && DecodeSettingsFile(image, *this))
        return true;

    const std::string iniPath = folder + "config.ini";
    if (!IniFile::Parse(iniPath, *this))
        return false;
    SaveSettingsFile(path);
    return true;
}

bool SettingsStore::SaveSettingsFile(const std::string& path) const
{
    const std::string image = EncodeSettingsFile(sections);
    // Write beside the target and rename over it, so an interrupted save never
    // leaves a truncated settings file behind.
    const std::filesystem::path target = Utf8Path(path);
    std::filesystem::path temporary = target;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(image.data(), static_cast<std::streamsize>(image.size()));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return false;
    }
    return true;
}

const std::string* SettingsStore::Find(const std::string& section, const std::string& key) const
{
    const auto s = sections.find(section);
    if (s == sections.end())
        return nullptr;
    const auto k = s->second.find(key);
    if (k == s->second.end())
        return nullptr;
    return &k->second;
}

std::string SettingsStore::GetString(const std::string& section, const std::string& key,
                                     const std::string& fallback) const
{
    const std::string* value = Find(section, key);
    return value ? *value : fallback;
}

int32_t SettingsStore::GetInt(const std::string& section, const std::string& key, int32_t fallback) const
{
    const std::string* value = Find(section, key);
    return value ? ParseStoredInt(*value, fallback) : fallback;
}

bool SettingsStore::GetBool(const std::string& section, const std::string& key, bool fallback) const
{
    const std::string* value = Find(section, key);
    if (!value || value->empty())
        return fallback;
    std::string lower = *value;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "true" || lower == "yes" || lower == "1";
}

void SettingsStore::SetString(const std::string& section, const std::string& key, const std::string& value)
{
    sections[section][key] = value;
}

void SettingsStore::SetInt(const std::string& section, const std::string& key, int32_t value)
{
    sections[section][key] = std::to_string(value);
}

void SettingsStore::SetBool(const std::string& section, const std::string& key, bool value)
{
    sections[section][key] = value ? "true" : "false";
}
