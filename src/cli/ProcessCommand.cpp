#include <cstdio>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/OfflineJob.h"

// Runs a 16-bit WAV recording through the stored processing settings the way a stream
// would hear it, and writes the result. OUT is replaced only when everything worked.
int RunProcessCommand(const std::vector<std::string>& arguments)
{
    OfflineJob job;
    int status = kExitOk;
    if (!OpenOfflineJob(arguments, "process [--config DIR] IN.wav OUT.wav", job, status))
        return status;

    status = ReplaceOutput(job, [&job](const std::string& path, std::string& error) {
        WavWriter writer;
        if (!writer.Open(path, job.processor->OutputRate(), job.processor->OutputChannels())) {
            error = writer.LastError();
            return false;
        }
        const OfflineBlockSink sink = [&writer](const int16_t* samples, size_t count) {
            return writer.Write(samples, count);
        };
        if (!RunOfflineJob(job, sink, error) || !writer.Close()) {
            if (error.empty())
                error = writer.LastError();
            return false;
        }
        return true;
    });
    if (status != kExitOk)
        return status;

    const ProcessingMeters meters = job.processor->Meters();
    for (const MeterField& field : kMeterFields)
        std::printf("%s=%.4f\n", field.name, static_cast<double>(meters.*field.member));
    PrintOutputLoudness(job);
    return kExitOk;
}
