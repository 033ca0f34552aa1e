#pragma once

#include <cstdint>
#include <string>

// Content code of an AAC-LC stream ("audio/aac"), an MP3 stream ("audio/mpeg") and an
// Opus stream in Ogg ("audio/ogg"); any other value is HE-AAC ("audio/aacp").
constexpr uint32_t kContentCodeAac = 2;
constexpr uint32_t kContentCodeMpeg = 3;
constexpr uint32_t kContentCodeOgg = 4;

// The Content-Type a content code sends.
const char* ContentTypeText(uint32_t contentCode);

// The source protocol a server speaks: Icecast's SOURCE request, Shoutcast's v1 password
// line (at port + 1), or Shoutcast 2's Ultravox 2.1 messages.
enum class ServerType { Icecast, Shoutcast1, Shoutcast2 };

// How a connection to the server is secured. With enabled off, every connection is plain
// TCP and the other fields are not used.
struct TlsOptions {
    bool enabled = false;
    // A PEM file of certificates trusted beside the system's roots; "" for none.
    std::string caFile;
    // The SHA-256 of the server certificate's DER encoding, in hex, with or without
    // colons, any case. When set, exactly that certificate is accepted, whatever its
    // chain and names; "" verifies the chain and the host name.
    std::string fingerprint;
};

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
    TlsOptions tls;
    ServerType serverType = ServerType::Icecast;
    // The stream of a Shoutcast 2 server (its "sid"), 1 for the first; Icecast ignores it.
    uint32_t streamId = 1;
};
