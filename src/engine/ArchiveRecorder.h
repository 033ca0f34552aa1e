#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/NewFile.h"
#include "encoder/EncoderConfig.h"
#include "icecast/SendQueue.h"

// Where and how one connection's stream is archived.
struct ArchiveOptions {
    std::string folder;     // UTF-8; created when missing
    std::string mountPoint; // as configured, with or without its leading "/"
    int64_t splitSeconds = 3600; // a new file after this much sound; 0: one file
    // After recording stopped, how long until it tries again in a new file.
    std::chrono::milliseconds retryInterval{30000};
    // What the frames are: ADTS frames into ".aac", MPEG audio frames into ".mp3", or
    // Ogg pages into ".opus", where a file only ever starts with a page that begins a
    // logical stream, so that each file plays from its first byte.
    Codec codec = Codec::Aac;
};

// How the archive of a stream fares: off, recording, or stopped for a reason (and
// trying again every retryInterval).
enum class RecordingState { Off, On, Stopped };

// How far a recording has come: the file written now ("" between files or while
// stopped) and the bytes written to every file since the start.
struct ArchiveProgress {
    std::string file;
    uint64_t bytesWritten = 0;
};

// What the fixed header of one ADTS frame says: its length in bytes and the samples it
// carries at sampleRate (the core rate: an HE-AAC frame says 1024 at half the rate).
struct AdtsFrameHeader {
    uint32_t bytes = 0;
    uint32_t samples = 0;
    uint32_t sampleRate = 0;
};

// The header at data, or nothing when size is below 7 bytes, the sync word is missing or
// the rate index or length is impossible.
std::optional<AdtsFrameHeader> ReadAdtsHeader(const uint8_t* data, uint64_t size);

// "live_2026-12-09_14-03-07": the mount without its leading slash, then the local time.
// Further slashes and the characters Windows refuses in names become "_"; an empty mount
// reads "stream".
std::string ArchiveFileStem(const std::string& mountPoint, const std::tm& local);

// The status line when recording stops: names the folder and the reason.
std::string RecordingStoppedText(const std::string& folder, const std::string& reason);

// Writes one connection's frames (ADTS, MPEG audio or Ogg pages), exactly as they went
// to the server, into files MOUNT_YYYY-MM-DD_HH-MM-SS.aac (.mp3, .opus) in a folder (the local time of each file's first frame).
// The capture thread only copies frames into a bounded buffer; a writer thread of its
// own creates the files and writes them, whole frames at a time, and starts a new file
// on the first frame boundary after splitSeconds of sound. A file is always created
// new: when the name is taken, "_2", "_3" ... goes before ".aac". When writing fails,
// or the disk falls so far behind that the buffer fills, recording stops (what was
// written stays) and Problem() says why; the stream is not affected. After
// retryInterval it starts again in a new file, so a disk that was freed is used again;
// the frames in between are not recorded.
class ArchiveRecorder {
public:
    // About a minute of a 128 kbit/s stream.
    static constexpr uint64_t kBufferBytes = 1024 * 1024;
    // How often what was written is handed to the disk.
    static constexpr std::chrono::seconds kSyncInterval{5};

    ArchiveRecorder() = default;
    ~ArchiveRecorder() { Finish(); }
    ArchiveRecorder(const ArchiveRecorder&) = delete;
    ArchiveRecorder& operator=(const ArchiveRecorder&) = delete;

    // Starts the writer thread; the first file is created with the first frame. False
    // (with Problem set) when no thread could be started.
    bool Start(const ArchiveOptions& options);
    // One whole frame, on the capture thread: copied, never waits for the disk.
    void Write(const uint8_t* frame, uint64_t size);
    // After the last frame: writes what is buffered, closes the file, ends the thread.
    void Finish();

    // "" while recording goes well, else the RecordingStoppedText, until a retry has
    // written again.
    std::string Problem() const;
    ArchiveProgress Progress() const;

    // For Ogg pages: whether a file waits for a page that begins a logical stream (the
    // first file, a split that is due, a retry). The program then starts one.
    bool WantsStreamStart() const { return wantsStreamStart.load(std::memory_order_relaxed); }

private:
    void WriterLoop();
    // Takes the whole frames at the front of pending into files; false on a failure.
    bool WriteWholeFrames();
    bool OpenFile();
    // Writes [runStart, runEnd) of pending to the current file.
    bool WriteRun(size_t runStart, size_t runEnd);
    void StopRecording(const std::string& reason);
    // After retryInterval stopped: takes frames again, for a new file.
    void Resume();

    ArchiveOptions options;
    SendQueue buffer{kBufferBytes};
    std::thread writer;
    bool running = false;
    std::atomic<bool> stopped{false};
    std::atomic<bool> overflowed{false};
    // The wall-clock time of the first frame (system_clock ticks), set by the capture
    // thread before that frame enters the buffer; 0 before.
    std::atomic<int64_t> firstFrameTime{0};
    std::atomic<bool> wantsStreamStart{false};
    std::string problem;
    ArchiveProgress progress; // under problemLock too
    mutable std::mutex problemLock;

    // The writer thread's own.
    NewFile file;
    std::filesystem::path filePath; // of the open file
    uint64_t fileBytes = 0;         // written to it
    std::chrono::steady_clock::time_point retryAt;
    std::string lastLogged;         // the stop last logged, so a retry that fails alike stays quiet
    std::vector<uint8_t> pending;
    double streamSeconds = 0.0; // sound written so far in this connection
    double fileSeconds = 0.0;   // of it, in the current file
    int64_t lastGranule = 0;    // of the Ogg stream being written
};
