#include "cli/OfflineJob.h"

#include <filesystem>
#include <system_error>

#include "app/ExecutablePath.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"

namespace {

constexpr size_t kReadFrames = 4800;

void RemoveQuietly(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove(Utf8Path(path), ignored);
}

} // namespace

bool OpenOfflineJob(const std::vector<std::string>& arguments, const char* usage, OfflineJob& job, int& status)
{
    std::vector<std::string> args = arguments;
    std::string dir;
    std::string error;
    status = kExitUsage;
    if (!TakeConfigOption(args, dir, error)) {
        PrintError(error);
        return false;
    }
    if (args.size() != 2) {
        PrintError(std::string("usage: ") + usage);
        return false;
    }
    job.inPath = args[0];
    job.outPath = args[1];
    if (!job.reader.Open(job.inPath)) {
        PrintError(job.inPath + ": " + job.reader.LastError());
        return false;
    }

    SettingsStore store;
    LoadConfiguredSettings(dir, store, job.settings);
    OfflineSetup setup;
    setup.inputRate = job.reader.SampleRate();
    setup.inputChannels = job.reader.Channels();
    setup.streamRate = job.settings.stream.captureFormat.sampleRate;
    setup.streamChannels = job.settings.stream.captureFormat.channels;
    setup.processing = job.settings.stream.processing;
    job.processor = std::make_unique<OfflineProcessor>(setup);
    status = kExitOk;
    return true;
}

bool RunOfflineJob(OfflineJob& job, const OfflineBlockSink& sink, std::string& error)
{
    std::vector<int16_t> input;
    for (;;) {
        if (!job.reader.Read(kReadFrames, input)) {
            error = job.reader.LastError();
            return false;
        }
        if (input.empty())
            break;
        if (!job.processor->Push(input.data(), input.size() / job.reader.Channels(), sink))
            return false;
    }
    return job.processor->Finish(sink);
}

int ReplaceOutput(const std::string& outPath, const std::function<bool(const std::string&, std::string&)>& write)
{
    const std::string tempPath = outPath + ".part";
    std::string error;
    if (!write(tempPath, error)) {
        RemoveQuietly(tempPath);
        PrintError(outPath + ": " + error);
        return kExitFailure;
    }
    std::error_code ec;
    std::filesystem::rename(Utf8Path(tempPath), Utf8Path(outPath), ec);
    if (ec) {
        RemoveQuietly(tempPath);
        PrintError(outPath + ": cannot replace the file: " + ec.message());
        return kExitFailure;
    }
    return kExitOk;
}
