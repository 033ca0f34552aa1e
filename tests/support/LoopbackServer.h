#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/LoopbackSocket.h"

class LoopbackServer;

// One accepted connection as a script sees it. Every wait is cut short when the server
// stops.
class LoopbackPeer {
public:
    LoopbackPeer(RawSocket socket, LoopbackServer& server);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    // Reads up to the blank line that ends a request head and records the head.
    std::string ReadRequest();
    bool Write(std::string_view bytes);
    void ShutdownWrite();
    // Reads and discards until count bytes arrived, the client closed or the server stops.
    size_t Read(size_t count);
    // Reads and discards until the client closes or the server stops.
    void DrainUntilClosed();
    // Reads nothing until the server stops or maxMs pass.
    void Idle(int maxMs);
    // Whether the client has closed (seen by the last read).
    bool ClientClosed() const { return clientClosed; }

private:
    RawSocket socket;
    LoopbackServer& server;
    bool clientClosed = false;
};

// A scripted peer on 127.0.0.1: each accepted connection runs script on a thread of its
// own, with the connection's index (0 for the first).
class LoopbackServer {
public:
    using Script = std::function<void(LoopbackPeer& peer, int index)>;

    explicit LoopbackServer(Script script, int receiveBuffer = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t Port() const { return port; }
    // Request heads read so far, in arrival order.
    std::vector<std::string> Requests() const;
    // Waits until count scripts have finished; false after timeoutMs.
    bool WaitFinished(int count, int timeoutMs) const;
    bool Stopping() const { return stopping.load(); }

private:
    friend class LoopbackPeer;
    void AcceptLoop();
    void Record(const std::string& request);

    Script script;
    uint16_t port = 0;
    RawSocket listener = kNoSocket;
    std::atomic<bool> stopping{false};
    std::atomic<int> finished{0};
    mutable std::mutex lock;
    std::vector<std::string> requests;
    std::vector<std::thread> connections;
    std::thread acceptor;
};

// Whether the tests run inside the private network of scripts/testenv, where looking up
// an unknown host name cannot leave the machine.
bool InIsolatedNetwork();

// The usual scripts: answer the request with text and drain until the client closes
// (a source connection), or answer and close (a document fetch).
LoopbackServer::Script AnswerWith(std::string text);
LoopbackServer::Script ServeAndClose(std::string text);
