#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// A file this program creates and writes: created exclusively, so that nothing already
// standing at its path is ever written over. Platform file.
class NewFile {
public:
    NewFile() = default;
    ~NewFile() { Close(); }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Creates path as a new empty file and keeps it open for writing. False when
    // anything exists there already (AlreadyExisted) or it cannot be created.
    bool Create(const std::filesystem::path& path);
    // Writes all size bytes or fails with the reason.
    bool Write(const uint8_t* data, uint64_t size);
    // Hands what was written to the disk, so that a power loss keeps it.
    bool Sync();
    void Close();
    bool IsOpen() const { return handle != kClosed; }

    bool AlreadyExisted() const { return alreadyExisted; }
    // The system's reason for the last failure ("No space left on device").
    const std::string& LastError() const { return lastError; }

private:
    static constexpr intptr_t kClosed = -1;
    intptr_t handle = kClosed; // a descriptor, or a HANDLE on Windows
    bool alreadyExisted = false;
    std::string lastError;
};
