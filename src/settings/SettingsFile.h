#pragma once

#include <string>

#include "settings/SettingsStore.h"

// The "config.dat" container: magic "KVCF", version 0x01, then the scrambled payload.
constexpr char kSettingsMagic[4] = {'K', 'V', 'C', 'F'};
constexpr unsigned char kSettingsVersion = 0x01;
constexpr size_t kSettingsHeaderSize = 5;

// Scrambles or unscrambles payload bytes in place (the operation is its own inverse).
// Byte i is the payload's i-th byte, counted from the end of the header.
void ScrambleSettingsPayload(std::string& payload);

// The plain payload: per section its name, a 16-bit key count and key/value strings,
// closed by an empty name. Strings are a 16-bit little-endian length and the bytes.
std::string EncodeSettingsPayload(const SettingsStore::Sections& sections);

// Decodes a plain payload and replaces the store's contents with it. A payload that does
// not decode contributes nothing: false, and the store is left as it was.
bool DecodeSettingsPayload(const std::string& payload, SettingsStore& store);

// Whole file image: header plus scrambled payload.
std::string EncodeSettingsFile(const SettingsStore::Sections& sections);

// Decodes a whole file image; false when the header is wrong or the payload does not decode.
bool DecodeSettingsFile(const std::string& image, SettingsStore& store);
