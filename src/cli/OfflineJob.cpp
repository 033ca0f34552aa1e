#include "cli/OfflineJob.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/ExecutablePath.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/OutputFile.h"

namespace {

constexpr size_t kReadFrames = 4800;

void RemoveQuietly(const std::filesystem::path& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
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
    if (job.outPath.empty()) {
        PrintError(std::string("usage: ") + usage + " (OUT is empty)");
        return false;
    }
    if (!job.reader.Open(job.inPath)) {
        PrintError(job.inPath + ": " + job.reader.LastError());
        return false;
    }
    if (!ResolveOutputFile(job.outPath, job.outFile, error)) {
        PrintError(job.outPath + ": " + error);
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

int ReplaceOutput(const OfflineJob& job, const std::function<bool(const std::string&, std::string&)>& write)
{
    const std::string& outPath = job.outPath;
    std::filesystem::path tempPath;
    std::string error;
    if (!CreateTemporaryBeside(job.outFile, tempPath, error)) {
        PrintError(outPath + ": " + error);
        return kExitFailure;
    }
    if (!write(PathText(tempPath), error)) {
        RemoveQuietly(tempPath);
        PrintError(outPath + ": " + error);
        return kExitFailure;
    }
    std::error_code ec;
    std::filesystem::rename(tempPath, job.outFile, ec);
    if (ec) {
        RemoveQuietly(tempPath);
        PrintError(outPath + ": cannot replace the file: " + ec.message());
        return kExitFailure;
    }
    return kExitOk;
}

void PrintOutputLoudness(const OfflineJob& job)
{
    const LoudnessReading loudness = job.processor->Loudness();
    std::printf("integratedLoudness=%s\ntruePeak=%s\n", FormatLoudness(loudness.integratedLufs).c_str(),
                FormatLoudness(loudness.maxTruePeakDb).c_str());
}
