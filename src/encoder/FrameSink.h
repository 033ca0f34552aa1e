#pragma once

#include <cstdint>
#include <functional>

// Receives one encoded ADTS frame. data is valid only during the call; a sink that
// keeps the bytes copies them.
using FrameSink = std::function<void(const uint8_t* data, uint64_t size)>;
