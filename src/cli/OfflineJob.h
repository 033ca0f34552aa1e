#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/OfflineProcessor.h"
#include "audio/WavFile.h"
#include "settings/AppSettings.h"

// What the offline commands (process, encode) share: "[--config DIR] IN.wav OUT", the
// recording opened, the settings loaded and the stream path set up for them.
struct OfflineJob {
    std::string inPath;
    std::string outPath;
    std::filesystem::path outFile; // what writing outPath produces (a link's target)
    WavReader reader;
    AppSettings settings;
    std::unique_ptr<OfflineProcessor> processor;
};

// Parses the arguments, opens the input and checks that OUT may be written (a regular
// file, a link to one, or nothing yet). On failure the message is printed and the exit
// status to return is in status.
bool OpenOfflineJob(const std::vector<std::string>& arguments, const char* usage, OfflineJob& job, int& status);

// Reads the whole recording through the processor into sink. A read error is reported
// as such; when the sink refuses a block, error stays empty for the caller to fill.
bool RunOfflineJob(OfflineJob& job, const OfflineBlockSink& sink, std::string& error);

// Writes the job's OUT through a temporary file created exclusively beside it:
// write(tempPath, error) produces the file, which replaces OUT's file only when it
// succeeded. Prints the failure; the exit status.
// Prints integratedLoudness (LUFS) and truePeak (dBTP) of what the job's processor sent
// on, one decimal each ("-inf" for silence).
void PrintOutputLoudness(const OfflineJob& job);

int ReplaceOutput(const OfflineJob& job, const std::function<bool(const std::string&, std::string&)>& write);
