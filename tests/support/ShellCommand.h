#pragma once

#include <string>

// Runs a shell command of the test environment (pactl, for example) and returns its
// standard output without the trailing line feeds. Native Linux build only.
std::string RunShell(const std::string& command);

// The same with the output exactly as written (decoded audio, for example).
std::string RunShellRaw(const std::string& command);
