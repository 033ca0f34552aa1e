#include "icecast/ConnectivityProbe.h"

#include "base/DetachedWorker.h"
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
    return StartDetachedWorker([done, target] {
        const bool reachable = ProbeConnectivity(target);
        if (done)
            done(reachable);
    }, [&done] {
        if (done)
            done(false);
    });
}
