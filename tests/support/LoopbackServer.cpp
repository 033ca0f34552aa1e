#include "support/LoopbackServer.h"

#include <algorithm>
#include <chrono>

#include "support/TempDir.h"

namespace {

constexpr int kSliceMs = 50;
constexpr size_t kHeadLimit = 65536;

} // namespace

LoopbackPeer::LoopbackPeer(RawSocket s, LoopbackServer& owner) : socket(s), server(owner)
{
}

LoopbackPeer::~LoopbackPeer()
{
    CloseRaw(socket);
}

std::string LoopbackPeer::ReadRequest()
{
    std::string head;
    char c = 0;
    while (!server.Stopping() && head.size() < kHeadLimit && head.find("\r\n\r\n") == std::string::npos) {
        const int received = ReceiveWithin(socket, &c, 1, kSliceMs);
        if (received == -2)
            continue;
        if (received <= 0) {
            clientClosed = true;
            break;
        }
        head += c;
    }
    server.Record(head);
    return head;
}

bool LoopbackPeer::Write(std::string_view bytes)
{
    return SendAllBytes(socket, bytes.data(), bytes.size());
}

void LoopbackPeer::ShutdownWrite()
{
    ::ShutdownWrite(socket);
}

size_t LoopbackPeer::Read(size_t count)
{
    char buffer[4096];
    size_t total = 0;
    while (total < count && !server.Stopping()) {
        const int received = ReceiveWithin(socket, buffer, std::min(sizeof buffer, count - total), kSliceMs);
        if (received == -2)
            continue;
        if (received <= 0) {
            clientClosed = true;
            break;
        }
        total += static_cast<size_t>(received);
    }
    return total;
}

void LoopbackPeer::DrainUntilClosed()
{
    while (!clientClosed && !server.Stopping())
        Read(1 << 20);
}

void LoopbackPeer::Idle(int maxMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    while (!server.Stopping() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
}

LoopbackServer::LoopbackServer(Script connectionScript, int receiveBuffer) : script(std::move(connectionScript))
{
    listener = ListenOnLoopback(port, receiveBuffer);
    acceptor = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer()
{
    stopping.store(true);
    acceptor.join();
    for (std::thread& connection : connections)
        connection.join();
    CloseRaw(listener);
}

void LoopbackServer::AcceptLoop()
{
    int index = 0;
    while (!stopping.load() && listener != kNoSocket) {
        const RawSocket accepted = AcceptWithin(listener, kSliceMs);
        if (accepted == kNoSocket)
            continue;
        // Only this thread touches connections until the destructor joins it.
        connections.emplace_back([this, accepted, n = index++] {
            {
                LoopbackPeer peer(accepted, *this);
                script(peer, n);
            }
            finished.fetch_add(1);
        });
    }
}

void LoopbackServer::Record(const std::string& request)
{
    std::lock_guard<std::mutex> guard(lock);
    requests.push_back(request);
}

std::vector<std::string> LoopbackServer::Requests() const
{
    std::lock_guard<std::mutex> guard(lock);
    return requests;
}

bool LoopbackServer::WaitFinished(int count, int timeoutMs) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (finished.load() < count) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

LoopbackServer::Script AnswerWith(std::string text)
{
    return [text](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        peer.Write(text);
        peer.DrainUntilClosed();
    };
}

LoopbackServer::Script ServeAndClose(std::string text)
{
    return [text](LoopbackPeer& peer, int) {
        peer.ReadRequest();
        peer.Write(text);
        peer.ShutdownWrite();
        peer.DrainUntilClosed();
    };
}

bool InIsolatedNetwork()
{
    return !EnvOr("KV_ENV_DIR", "").empty();
}
