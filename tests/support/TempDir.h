#pragma once

#include <string>

// A fresh folder under the system's temporary directory, removed with its contents
// when the object goes. Path() ends with a separator.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    std::string File(const std::string& name) const { return path + name; }

private:
    std::string path;
};

// Whole file as bytes ("" when missing) and writing bytes to a file.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// An environment variable, or fallback when it is not set.
std::string EnvOr(const char* name, const std::string& fallback);
