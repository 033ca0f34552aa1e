#pragma once

#include <cstdint>

// The AAC flavours a stream may be encoded in: plain AAC-LC, HE-AAC v1 (AAC + SBR) and
// HE-AAC v2 (AAC + SBR + parametric stereo). The settings file numbers them 0, 1 and 2;
// that numbering is read and written in the settings code only.
enum class AacProfile : uint8_t { Lc, HeV1, HeV2 };

// Display name: "AAC-LC", "HE-AAC v1" or "HE-AAC v2".
const char* ProfileName(AacProfile profile);
