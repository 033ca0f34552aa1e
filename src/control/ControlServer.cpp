#include "control/ControlServer.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <httplib.h>

#include "base/Log.h"
#include "base/Utf8.h"
#include "control/ControlReports.h"
#include "control/ControlRouter.h"
#include "engine/StreamEngine.h"

namespace {

// How long a request waits for the supervising thread. A start waits for the
// connection attempts, which end by their own time-outs well within it.
constexpr std::chrono::seconds kSnapshotWait{5};
constexpr std::chrono::seconds kStopWait{10};
constexpr std::chrono::seconds kStartWait{60};

// Bounds on what a request may bring besides the server's own per-line limit.
constexpr size_t kMaxHeaders = 48;
constexpr size_t kMaxHeaderBytes = 16 * 1024;
constexpr time_t kSocketTimeoutSeconds = 5;
constexpr size_t kServerThreads = 4;

enum class JobKind { Snapshot, Start, Stop };

// One request waiting for the supervising thread. Shared: a request that gave up leaves
// its job to be answered into nothing.
struct Job {
    JobKind kind = JobKind::Snapshot;
    std::mutex lock;
    std::condition_variable done;
    bool answered = false;
    std::optional<ControlSnapshot> snapshot;
    std::optional<ControlOutcome> outcome;

    void Answer(std::optional<ControlSnapshot> s, std::optional<ControlOutcome> o)
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            snapshot = std::move(s);
            outcome = std::move(o);
            answered = true;
        }
        done.notify_all();
    }
};

bool AnyUp(const ControlSnapshot& snapshot)
{
    for (const OutputSnapshot& output : snapshot.outputs) {
        if (output.up)
            return true;
    }
    return snapshot.attemptsRunning;
}

std::string Outputs(size_t count)
{
    return std::to_string(count) + (count == 1 ? " output" : " outputs");
}

// How a start ended, once no connection attempt runs any more.
ControlOutcome StartOutcome(const ControlSnapshot& snapshot)
{
    const size_t onAir = snapshot.OnAir();
    const size_t count = snapshot.outputs.size();
    if (count > 0 && onAir == count)
        return {200, ResultJson("on air", "started: " + Outputs(count) + " on air")};
    std::string reasons;
    bool retrying = false;
    for (const OutputSnapshot& output : snapshot.outputs) {
        retrying = retrying || (output.up && !output.connected);
        if (!output.connected)
            reasons += (reasons.empty() ? "" : "; ") + output.name + ": " + output.status;
    }
    if (onAir > 0)
        return {200, ResultJson("partly on air", std::to_string(onAir) + " of " + Outputs(count) + " on air; " + reasons)};
    return {502, ResultJson(retrying ? "retrying" : "failed", reasons)};
}

void ApplyReply(const ControlReply& reply, httplib::Response& response)
{
    response.status = reply.status;
    response.set_content(reply.body, reply.contentType.c_str());
    if (!reply.authenticate.empty())
        response.set_header("WWW-Authenticate", reply.authenticate);
    if (!reply.allow.empty())
        response.set_header("Allow", reply.allow);
    response.set_header("Cache-Control", "no-store");
}

std::string ReasonOf(int status)
{
    switch (status) {
    case 400: return "the request could not be read";
    case 404: return "no such path";
    case 411: return "send the body with a Content-Length";
    case 413: return "the body is too large";
    case 414: return "the request line is too long";
    case 416: return "ranges are not served";
    case 431: return "the headers are too large";
    default: return "the request was refused";
    }
}

} // namespace

struct ControlServer::Impl {
    httplib::Server server;
    std::thread listener;
    std::string token;
    bool open = false;
    std::function<void()> wake;
    std::mutex lock; // guards queue and closed
    std::deque<std::shared_ptr<Job>> queue;
    bool closed = true;
    // The supervising thread's own: starts that wait for their attempts to end.
    std::vector<std::shared_ptr<Job>> pendingStarts;

    // On a server thread: hands kind to the supervising thread and waits for its answer.
    std::shared_ptr<Job> Submit(JobKind kind, std::chrono::seconds limit)
    {
        auto job = std::make_shared<Job>();
        job->kind = kind;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (closed)
                return job;
            queue.push_back(job);
        }
        if (wake)
            wake();
        std::unique_lock<std::mutex> guard(job->lock);
        job->done.wait_for(guard, limit, [&job] { return job->answered; });
        return job;
    }

    ControlActions Actions()
    {
        ControlActions actions;
        actions.snapshot = [this]() -> std::optional<ControlSnapshot> {
            const std::shared_ptr<Job> job = Submit(JobKind::Snapshot, kSnapshotWait);
            std::lock_guard<std::mutex> guard(job->lock);
            return job->snapshot;
        };
        actions.command = [this](ControlCommand command) -> std::optional<ControlOutcome> {
            const bool start = command == ControlCommand::Start;
            const std::shared_ptr<Job> job =
                Submit(start ? JobKind::Start : JobKind::Stop, start ? kStartWait : kStopWait);
            std::lock_guard<std::mutex> guard(job->lock);
            return job->outcome;
        };
        actions.sendTitle = [](const OutputSnapshot& output, const std::string& title) {
            if (output.inStreamTitle)
                return output.inStreamTitle(title) ? std::string() : std::string("the connection is gone");
            return SendStreamTitle(output.server, output.configuredPort, output.serverTypeProblem, title);
        };
        actions.log = [](const std::string& line) { LogLine("Control", line); };
        return actions;
    }

    void Handle(const httplib::Request& request, httplib::Response& response)
    {
        ControlRequest control;
        control.method = request.method;
        control.path = request.path;
        for (const auto& [key, value] : request.params)
            control.params.emplace_back(key, value);
        control.authorization = request.get_header_value("Authorization");
        control.contentType = request.get_header_value("Content-Type");
        control.body = request.body;
        try {
            ApplyReply(RouteControlRequest(control, token, Actions()), response);
        } catch (const std::exception& e) {
            LogLine("Control", std::string("request failed: ") + e.what());
            ApplyReply(RefusedRequest(500, "the request failed"), response);
        }
    }

    void Configure()
    {
        server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
        server.set_payload_max_length(kMaxControlBody);
        server.set_read_timeout(kSocketTimeoutSeconds, 0);
        server.set_write_timeout(kSocketTimeoutSeconds, 0);
        server.set_keep_alive_timeout(kSocketTimeoutSeconds);
        server.set_keep_alive_max_count(16);
        server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
            size_t bytes = 0;
            for (const auto& [name, value] : request.headers)
                bytes += name.size() + value.size() + 4;
            if (request.headers.size() > kMaxHeaders || bytes > kMaxHeaderBytes) {
                ApplyReply(RefusedRequest(431, ReasonOf(431)), response);
                return httplib::Server::HandlerResponse::Handled;
            }
            // A chunked body would be read without the size limit.
            if (request.has_header("Transfer-Encoding")) {
                ApplyReply(RefusedRequest(411, ReasonOf(411)), response);
                return httplib::Server::HandlerResponse::Handled;
            }
            // Without a length a request has no body (RFC 9112); the server would read
            // one until the connection closes, so such a request is answered here.
            if (!request.has_header("Content-Length")) {
                Handle(request, response);
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        // The server's own refusals (a line too long, a body too large) say why in one line.
        server.set_error_handler(
            httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& response) {
                if (!response.body.empty())
                    return httplib::Server::HandlerResponse::Unhandled;
                ApplyReply(RefusedRequest(response.status, ReasonOf(response.status)), response);
                return httplib::Server::HandlerResponse::Handled;
            }));
        const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
            Handle(request, response);
        };
        server.Get(".*", handler);
        server.Post(".*", handler);
        server.Put(".*", handler);
        server.Delete(".*", handler);
        server.Patch(".*", handler);
        server.Options(".*", handler);
    }
};

ControlServer::ControlServer() : impl(std::make_unique<Impl>())
{
}

ControlServer::~ControlServer()
{
    Close();
}

bool ControlServer::Open(const ControlSettings& settings, std::string& problem)
{
    Close();
    problem = ControlSettingsProblem(settings);
    if (!problem.empty())
        return false;
    const ListenAddress listen = *ParseListenAddress(settings.listen);
    // A server that has stopped is not started again: each opening has its own.
    auto wake = std::move(impl->wake);
    impl = std::make_unique<Impl>();
    impl->wake = std::move(wake);
    impl->token = settings.token;
    impl->Configure();
    if (!impl->server.bind_to_port(listen.host, listen.port)) {
        problem = "the control interface cannot listen on " + settings.listen +
                  " (the address is not this machine's, or the port is taken)";
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        impl->closed = false;
    }
    Impl* running = impl.get();
    impl->listener = std::thread([running] { running->server.listen_after_bind(); });
    impl->open = true;
    LogLine("Control", "listening on " + settings.listen + (settings.token.empty() ? "" : " (token required)"));
    return true;
}

void ControlServer::Close()
{
    if (!impl->open)
        return;
    impl->server.stop();
    if (impl->listener.joinable())
        impl->listener.join();
    impl->open = false;
    std::deque<std::shared_ptr<Job>> left;
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        impl->closed = true;
        left.swap(impl->queue);
    }
    for (const std::shared_ptr<Job>& job : left)
        job->Answer(std::nullopt, std::nullopt);
    for (const std::shared_ptr<Job>& job : impl->pendingStarts)
        job->Answer(std::nullopt, std::nullopt);
    impl->pendingStarts.clear();
}

bool ControlServer::IsOpen() const
{
    return impl->open;
}

void ControlServer::SetWake(std::function<void()> wake)
{
    impl->wake = std::move(wake);
}

void ControlServer::Serve(const SessionControls& controls)
{
    std::deque<std::shared_ptr<Job>> jobs;
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        jobs.swap(impl->queue);
    }
    if (jobs.empty() && impl->pendingStarts.empty())
        return;
    ControlSnapshot snapshot = controls.snapshot();
    for (const std::shared_ptr<Job>& job : jobs) {
        switch (job->kind) {
        case JobKind::Snapshot:
            job->Answer(snapshot, std::nullopt);
            break;
        case JobKind::Stop:
            if (!AnyUp(snapshot)) {
                job->Answer(std::nullopt, ControlOutcome{200, ResultJson("idle", "nothing was streaming")});
                break;
            }
            LogLine("Control", "stop");
            controls.stop();
            snapshot = controls.snapshot();
            job->Answer(std::nullopt, ControlOutcome{200, ResultJson("stopped", "stopped " + Outputs(snapshot.outputs.size()))});
            break;
        case JobKind::Start:
            // As the window's Start button: a stream on air is left as it is.
            if (!snapshot.outputs.empty() && snapshot.OnAir() == snapshot.outputs.size()) {
                job->Answer(std::nullopt, ControlOutcome{200, ResultJson("on air", "already on air")});
                break;
            }
            LogLine("Control", "start");
            controls.start();
            snapshot = controls.snapshot();
            impl->pendingStarts.push_back(job);
            break;
        }
    }
    if (!impl->pendingStarts.empty() && !snapshot.attemptsRunning) {
        const ControlOutcome outcome = StartOutcome(snapshot);
        for (const std::shared_ptr<Job>& job : impl->pendingStarts)
            job->Answer(std::nullopt, outcome);
        impl->pendingStarts.clear();
    }
}
