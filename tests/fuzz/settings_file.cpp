// config.dat: the container check, the unscrambling and the payload decoder. Whatever
// decodes must survive a save and a load unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/SettingsFile.h"
#include "settings/SettingsStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    SettingsStore store;
    // Both as a whole file image and as a plain payload, so the decoder's paths are
    // reached without the fuzzer having to learn the scrambling.
    for (const bool image : {true, false}) {
        const bool decoded = image ? DecodeSettingsFile(bytes, store) : DecodeSettingsPayload(bytes, store);
        if (!decoded)
            continue;
        SettingsStore again;
        if (!DecodeSettingsFile(EncodeSettingsFile(store.GetSections()), again) ||
            again.GetSections() != store.GetSections())
            std::abort();
    }
    return 0;
}
