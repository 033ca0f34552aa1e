#pragma once

#include <cstddef>
#include <limits>
#include <string>

// What stands at a path, looked at without opening it (links followed).
enum class PathKind { Missing, RegularFile, Other };
PathKind KindOfPath(const std::string& path);

// The content of the regular file at path, at most maxBytes of it. False, without
// waiting and without throwing, when it is missing, unreadable or not a regular file (a
// folder, a FIFO, a device): such a file counts as missing. binary false reads text mode.
bool ReadRegularFile(const std::string& path, std::string& out, bool binary = true,
                     size_t maxBytes = std::numeric_limits<size_t>::max());
