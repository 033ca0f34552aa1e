#include "audio/PulseConnection.h"

#include <chrono>
#include <thread>

#include "audio/DeviceList.h"

namespace {

using Clock = std::chrono::steady_clock;

// Collects list entries of one query; ok turns false when the server answered with an
// error instead of the end of the list.
struct DeviceQuery {
    std::vector<PulseDevice>* devices = nullptr;
    bool finished = false;
    bool ok = true;
};

template <typename Info>
void CollectDevice(const Info* info, int eol, void* userdata)
{
    auto* query = static_cast<DeviceQuery*>(userdata);
    if (eol != 0) {
        query->ok = eol > 0;
        query->finished = true;
        return;
    }
    PulseDevice device;
    device.name = info->name != nullptr ? info->name : "";
    device.description = info->description != nullptr ? info->description : "";
    device.spec = info->sample_spec;
    device.map = info->channel_map;
    query->devices->push_back(std::move(device));
}

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata)
{
    CollectDevice(info, eol, userdata);
}

void OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata)
{
    CollectDevice(info, eol, userdata);
}

struct ServerQuery {
    std::string source;
    std::string sink;
    bool finished = false;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* userdata)
{
    auto* query = static_cast<ServerQuery*>(userdata);
    if (info != nullptr) {
        query->source = info->default_source_name != nullptr ? info->default_source_name : "";
        query->sink = info->default_sink_name != nullptr ? info->default_sink_name : "";
    }
    query->finished = true;
}

} // namespace

PulseConnection::~PulseConnection()
{
    if (context != nullptr) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    if (loop != nullptr)
        pa_mainloop_free(loop);
}

bool PulseConnection::Connect()
{
    if (context != nullptr)
        return Connected();
    // A retry after a failed context keeps the loop it already made.
    if (loop == nullptr)
        loop = pa_mainloop_new();
    if (loop == nullptr) {
        error = "Cannot create the PulseAudio main loop";
        return false;
    }
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Kelm Vantoro");
    context = pa_context_new_with_proplist(pa_mainloop_get_api(loop), "Kelm Vantoro", props);
    pa_proplist_free(props);
    if (context == nullptr) {
        error = "Cannot create a PulseAudio context";
        return false;
    }
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        !WaitUntil([this] { return pa_context_get_state(context) == PA_CONTEXT_READY; })) {
        error = std::string("Cannot connect to the PulseAudio server: ") + pa_strerror(pa_context_errno(context));
        return false;
    }
    return true;
}

bool PulseConnection::Connected() const
{
    return context != nullptr && pa_context_get_state(context) == PA_CONTEXT_READY;
}

bool PulseConnection::Iterate(int timeoutMs)
{
    if (pa_mainloop_prepare(loop, timeoutMs * 1000) < 0 || pa_mainloop_poll(loop) < 0)
        return false;
    pa_mainloop_dispatch(loop);
    return true;
}

void PulseConnection::Run(uint32_t milliseconds)
{
    const bool never = false; // no callback sets it: the whole time is served
    WaitForFlag(never, milliseconds);
}

bool PulseConnection::WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs)
{
    if (loop == nullptr || context == nullptr)
        return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (!PA_CONTEXT_IS_GOOD(state))
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        if (!Iterate(static_cast<int>(left < 50 ? left : 50)))
            return done();
    }
    return true;
}

bool PulseConnection::WaitForFlag(const bool& flag, uint32_t timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!flag) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        if (loop == nullptr || !Iterate(static_cast<int>(left))) {
            // A loop that cannot poll must still not turn the wait into a busy loop.
            std::this_thread::sleep_for(std::chrono::milliseconds(left));
            break;
        }
    }
    return flag;
}

void PulseConnection::ServeReady()
{
    // Bounded: a server that keeps sending must not hold the caller here.
    for (int round = 0; loop != nullptr && round < 64; ++round) {
        if (pa_mainloop_iterate(loop, 0, nullptr) <= 0)
            return;
    }
}

bool PulseConnection::Complete(pa_operation* operation)
{
    if (operation == nullptr)
        return false;
    const bool done = WaitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    if (!done)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return done;
}

std::optional<std::vector<PulseDevice>> PulseConnection::ListSources()
{
    if (!Connected())
        return std::nullopt;
    std::vector<PulseDevice> devices;
    DeviceQuery query{&devices};
    pa_operation* operation = pa_context_get_source_info_list(context, OnSourceInfo, &query);
    if (!Complete(operation) || !query.finished || !query.ok)
        return std::nullopt;
    return devices;
}

std::optional<std::vector<PulseDevice>> PulseConnection::ListSinks()
{
    if (!Connected())
        return std::nullopt;
    std::vector<PulseDevice> devices;
    DeviceQuery query{&devices};
    pa_operation* operation = pa_context_get_sink_info_list(context, OnSinkInfo, &query);
    if (!Complete(operation) || !query.finished || !query.ok)
        return std::nullopt;
    return devices;
}

std::optional<PulseDefaults> PulseConnection::DefaultNames()
{
    if (!Connected())
        return std::nullopt;
    ServerQuery query;
    if (!Complete(pa_context_get_server_info(context, OnServerInfo, &query)) || !query.finished)
        return std::nullopt;
    return PulseDefaults{query.source, query.sink};
}

std::vector<AudioDeviceInfo> PulseEndpoints(const std::vector<PulseDevice>& devices)
{
    std::vector<AudioDeviceInfo> endpoints;
    endpoints.reserve(devices.size());
    for (const PulseDevice& device : devices)
        endpoints.push_back({device.description.empty() ? kUnnamedDeviceName : device.description, device.name});
    return endpoints;
}
