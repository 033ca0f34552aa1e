#include "icecast/ConnectivityProbe.h"

#include <system_error>
#include <thread>

#include "icecast/TcpSocket.h"

ProbeTarget DefaultProbeTarget()
{
    return ProbeTarget{"8.8.8.8", 53};
}

bool ProbeConnectivity(const ProbeTarget& target, int timeoutMs)
{
    TcpSocket socket;
    return socket.Connect(target.address, target.port, timeoutMs) == ConnectResult::Connected;
}

bool StartConnectivityProbe(ProbeCallback done, const ProbeTarget& target)
{
    try {
        std::thread([done, target] {
            const bool reachable = ProbeConnectivity(target);
            if (done)
                done(reachable);
        }).detach();
        return true;
    } catch (const std::system_error&) {
        if (done)
            done(false);
        return false;
    }
}
