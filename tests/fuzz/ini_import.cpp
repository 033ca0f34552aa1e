// config.ini: the line parser, then the typed reads and a save and load of the result.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/IniFile.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SettingsStore store;
    IniFile::ParseText(std::string(reinterpret_cast<const char*>(data), size), store);
    for (const auto& [section, keys] : store.GetSections()) {
        for (const auto& [key, value] : keys) {
            (void)store.GetInt(section, key, 7);
            (void)store.GetBool(section, key, false);
        }
    }
    SettingsStore again;
    // Names and values from a text line never reach the format's 65535-byte limit.
    if (size < 65535 && (!DecodeSettingsFile(EncodeSettingsFile(store.GetSections()), again) ||
                         again.GetSections() != store.GetSections()))
        std::abort();
    return 0;
}
