#include "settings/SettingsFile.h"

#include <cstdint>
#include <utility>

namespace {

// Fixed scrambling key; changing it makes every existing settings file unreadable.
constexpr unsigned char kScrambleKey[32] = {
    0x4b, 0x9e, 0x27, 0xd1, 0x63, 0x0a, 0xb8, 0x5f, 0xe2, 0x31, 0x7c, 0x96, 0x0d, 0xa4, 0x58, 0xf3,
    0x1e, 0xc7, 0x82, 0x39, 0x6b, 0xd5, 0x40, 0xae, 0x13, 0x8f, 0xf6, 0x2a, 0x75, 0xbc, 0x04, 0x69,
};

void PutU16(std::string& out, size_t value)
{
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
}

void PutString(std::string& out, const std::string& text)
{
    // The format cannot hold more than 65535 bytes; longer texts are cut there.
    const size_t n = text.size() > 0xffff ? 0xffff : text.size();
    PutU16(out, n);
    out.append(text, 0, n);
}

class PayloadReader {
public:
    explicit PayloadReader(const std::string& payload) : data(payload) {}

    bool ReadU16(uint16_t& value)
    {
        if (data.size() - pos < 2)
            return false;
        value = static_cast<uint16_t>(static_cast<unsigned char>(data[pos]) |
                                      (static_cast<unsigned char>(data[pos + 1]) << 8));
        pos += 2;
        return true;
    }

    bool ReadString(std::string& text)
    {
        uint16_t n = 0;
        if (!ReadU16(n) || data.size() - pos < n)
            return false;
        text.assign(data, pos, n);
        pos += n;
        return true;
    }

private:
    const std::string& data;
    size_t pos = 0;
};

} // namespace

void ScrambleSettingsPayload(std::string& payload)
{
    for (size_t i = 0; i < payload.size(); ++i) {
        const unsigned char mask = static_cast<unsigned char>(kScrambleKey[i % 32] ^ (i % 256));
        payload[i] = static_cast<char>(static_cast<unsigned char>(payload[i]) ^ mask);
    }
}

std::string EncodeSettingsPayload(const SettingsStore::Sections& sections)
{
    std::string out;
    for (const auto& [name, keys] : sections) {
        // An empty name would end the payload early; such a section cannot be stored.
        if (name.empty())
            continue;
        PutString(out, name);
        const size_t count = keys.size() > 0xffff ? 0xffff : keys.size();
        PutU16(out, count);
        size_t written = 0;
        for (const auto& [key, value] : keys) {
            if (written++ == count)
                break;
            PutString(out, key);
            PutString(out, value);
        }
    }
    PutU16(out, 0);
    return out;
}

bool DecodeSettingsPayload(const std::string& payload, SettingsStore& target)
{
    // Decoded aside, so that damage late in the payload cannot leave half of it behind.
    SettingsStore store;
    PayloadReader reader(payload);
    std::string section;
    if (!reader.ReadString(section))
        return false;
    while (!section.empty()) {
        uint16_t count = 0;
        if (!reader.ReadU16(count))
            return false;
        // A section without keys is kept: an output section may hold none, everything of
        // it following the first output.
        store.GetSections()[section];
        for (uint16_t i = 0; i < count; ++i) {
            std::string key;
            std::string value;
            if (!reader.ReadString(key) || !reader.ReadString(value))
                return false;
            store.SetString(section, key, value);
        }
        if (!reader.ReadString(section))
            return false;
    }
    target.GetSections() = std::move(store.GetSections());
    return true;
}

std::string EncodeSettingsFile(const SettingsStore::Sections& sections)
{
    std::string payload = EncodeSettingsPayload(sections);
    ScrambleSettingsPayload(payload);
    std::string image(kSettingsMagic, sizeof(kSettingsMagic));
    image += static_cast<char>(kSettingsVersion);
    image += payload;
    return image;
}

bool DecodeSettingsFile(const std::string& image, SettingsStore& store)
{
    if (image.size() <= kSettingsHeaderSize)
        return false;
    if (image.compare(0, 4, kSettingsMagic, 4) != 0 || static_cast<unsigned char>(image[4]) != kSettingsVersion)
        return false;
    std::string payload = image.substr(kSettingsHeaderSize);
    ScrambleSettingsPayload(payload);
    return DecodeSettingsPayload(payload, store);
}
