#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "base/RegularFile.h"

// Sections of keys and text values, persisted in "config.dat" (or imported once from
// "config.ini" beside it). Names compare byte-wise, so they are case-sensitive.
class SettingsStore {
public:
    using Section = std::map<std::string, std::string>;
    using Sections = std::map<std::string, Section>;

    // Fills the store from the settings file at path, or imports the legacy INI file
    // from the same directory and saves it at once. True when either was read.
    bool LoadSettingsFile(const std::string& path);
    // Writes the whole store to path. True when the new file is in place.
    bool SaveSettingsFile(const std::string& path) const;

    std::string GetString(const std::string& section, const std::string& key, const std::string& fallback) const;
    int32_t GetInt(const std::string& section, const std::string& key, int32_t fallback) const;
    bool GetBool(const std::string& section, const std::string& key, bool fallback) const;

    void SetString(const std::string& section, const std::string& key, const std::string& value);
    void SetInt(const std::string& section, const std::string& key, int32_t value);
    void SetBool(const std::string& section, const std::string& key, bool value);

    const Sections& GetSections() const { return sections; }
    Sections& GetSections() { return sections; }
    void Clear() { sections.clear(); }
    // The folder of the settings file last loaded, with its separator ("" before any).
    const std::string& Folder() const { return folder; }

private:
    const std::string* Find(const std::string& section, const std::string& key) const;

    Sections sections;
    std::string folder;
};

// Integer conversion of a stored value: base 10, leading white space, optional sign,
// trailing text ignored; nothing convertible or out of the 32-bit range gives fallback.
int32_t ParseStoredInt(const std::string& text, int32_t fallback);
