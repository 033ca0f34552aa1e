#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Titles from a playout program's text file (the setting titleFile).

// The longest title sent, in bytes of UTF-8.
inline constexpr size_t kMaxTitleBytes = 255;

// The title a title file names: its first line as TitleLine reads it, "" when the file is
// missing, unreadable or has no line. A path that is not a regular file (a FIFO, a
// device, a folder) is never opened and reads as missing; notRegular, when given, tells.
std::string ReadTitleFile(const std::string& path, bool* notRegular = nullptr);

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

// Sends a connection's titles on a worker of its own, so that neither the file nor the
// server's answer is waited for on the connection path or the window's thread: at once
// the connection's first title (the file's line, or the stream name), then, with a
// title file, each new title as a reading about once a second finds it.
// The title updates of one output go out one at a time, and only those of the watcher
// started last for it: an update still in flight from an earlier connection is
// answered before the current one's first goes out, and one not yet sent is dropped.
class TitleWatcher {
public:
    using Send = std::function<void(const std::string& title)>;
    // Asked before each reading after the first, never after Stop: false skips it (the
    // stream is down, and the next connection sends the file's line anyway).
    using OnAir = std::function<bool()>;
    static constexpr std::chrono::milliseconds kInterval{1000};

    TitleWatcher() = default;
    ~TitleWatcher() { Stop(); }
    TitleWatcher(const TitleWatcher&) = delete;
    TitleWatcher& operator=(const TitleWatcher&) = delete;

    // Sends follower.First of path's line (path "" : of no line), then follows path when
    // it is not "". send must own what it uses: it may still run after Stop, to end an
    // update under way. output numbers the output whose connection this is. False when
    // no thread could be started.
    bool Start(const std::string& path, TitleFollower follower, Send send, OnAir onAir, size_t output = 1);
    // Ends the watching at once; nothing is read or sent afterwards, except the end of
    // an update under way, which finishes alone.
    void Stop();

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
};
