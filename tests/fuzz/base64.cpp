// Base64 of the credentials: the output decodes back to the input, and any text the
// decoder takes gives three bytes a group, less one for each "=" of padding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "icecast/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = Base64Encode(bytes);
    if (text.size() != (size + 2) / 3 * 4)
        std::abort();
    if (Base64Decode(text) != std::optional<std::string>(bytes))
        std::abort();
    // The input as an Authorization header's credentials.
    const std::optional<std::string> decoded = Base64Decode(bytes);
    if (decoded && decoded->size() != size / 4 * 3 - (size && bytes[size - 1] == '=') - (size > 1 && bytes[size - 2] == '='))
        std::abort();
    return 0;
}
