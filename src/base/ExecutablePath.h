#pragma once

#include <string>

// Directory of the running executable, with its trailing separator, or "" when it
// cannot be determined. The settings files live there.
std::string ExecutableDirectory();

// Cuts a path after its last backslash or slash ("" when it has neither).
std::string DirectoryOf(const std::string& path);

#include <filesystem>

// A UTF-8 path as a filesystem path (wide on Windows, so non-ASCII names survive).
std::filesystem::path Utf8Path(const std::string& utf8);

// The reverse: a filesystem path as UTF-8.
std::string PathText(const std::filesystem::path& path);
