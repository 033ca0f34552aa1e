#pragma once

#include <string>

#include "settings/SettingsStore.h"

// The legacy "config.ini": read once when "config.dat" is unreadable, never written.
class IniFile {
public:
    // False when the file cannot be opened; otherwise adds every recognised entry.
    static bool Parse(const std::string& path, SettingsStore& store);
    // Parses INI text that is already in memory.
    static void ParseText(const std::string& text, SettingsStore& store);
};
