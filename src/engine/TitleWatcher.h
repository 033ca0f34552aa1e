#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

// Titles from a playout program's text file (the setting titleFile).

// The longest title sent, in bytes of UTF-8.
inline constexpr size_t kMaxTitleBytes = 255;

// The title a title file names: its first line as TitleLine reads it, "" when the file is
// missing, unreadable or has no line.
std::string ReadTitleFile(const std::string& path);

// Which title a stream with a title file carries, reading by reading: the file's line, or
// the stream name while the file gives none. A title is handed out once, when it
// changes; one that did not arrive waits for the next change or the next connection.
class TitleFollower {
public:
    explicit TitleFollower(std::string streamName = {}) : name(std::move(streamName)) {}

    // The title for a new connection: line, or the stream name when line is "". "" (no
    // line and no stream name) sends nothing.
    std::string First(const std::string& line);
    // A later reading: the title to send now, or nothing when it stays. The fall-back to
    // the stream name waits for a second reading that agrees, so that a file its writer
    // empties or replaces for a moment does not flash the stream name on the air.
    std::optional<std::string> Next(const std::string& line);

private:
    std::string name;
    std::string current; // the title last handed out
    bool noLineOnce = false;
};

// Reads a title file about once a second on a thread of its own and hands each new
// title to send there, so neither the file nor the server's answer is waited for on the
// caller's (the window's) thread.
class TitleWatcher {
public:
    using Send = std::function<void(const std::string& title)>;
    // Asked before each reading, never after Stop: false skips it (the stream is down,
    // and the next connection sends the file's line anyway).
    using OnAir = std::function<bool()>;
    static constexpr std::chrono::milliseconds kInterval{1000};
    // How long Stop waits for a title update under way before leaving it to end alone.
    static constexpr std::chrono::milliseconds kStopWait{1000};

    TitleWatcher() = default;
    ~TitleWatcher() { Stop(); }
    TitleWatcher(const TitleWatcher&) = delete;
    TitleWatcher& operator=(const TitleWatcher&) = delete;

    // Follows path, follower having given the connection's title already. send must own
    // what it uses: after a Stop that timed out it may still run once. False when no
    // thread could be started.
    bool Start(const std::string& path, TitleFollower follower, Send send, OnAir onAir);
    // Ends the watching; nothing is read or sent afterwards, except the end of an update
    // that outlasted kStopWait.
    void Stop();

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
    std::thread thread;
};
