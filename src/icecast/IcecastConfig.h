#pragma once

#include <cstdint>
#include <string>

// Content code of an AAC-LC stream ("audio/aac"); any other value is HE-AAC ("audio/aacp").
constexpr uint32_t kContentCodeAac = 2;

// Server parameters of one stream.
struct IcecastConfig {
    std::string host;
    uint16_t port = 8000;
    std::string mountPoint;
    std::string username;
    std::string password;
    std::string streamName;
    std::string streamGenre;
    uint32_t contentCode = 0;
    uint32_t streamBitrate = 0;    // bit/s, announced in kbit/s
    uint16_t streamSampleRate = 0; // Hz
    uint16_t streamChannels = 0;
    bool isPublic = true;
};
