#include "audio/OfflineProcessor.h"

#include <algorithm>

#include "audio/DynamicsStages.h"
#include "audio/SampleConversion.h"

OfflineProcessor::OfflineProcessor(const OfflineSetup& setup)
    : inputChannels(setup.inputChannels == 0 ? 1 : setup.inputChannels),
      channels(setup.streamChannels == 0 ? 2 : setup.streamChannels),
      inputRate(setup.inputRate == 0 ? 44100 : setup.inputRate),
      outputRate(setup.streamRate == 0 ? inputRate : setup.streamRate),
      blockFrames(std::max<size_t>(1, inputRate / 100)),
      processing(ProcessingNeeded(setup.processing)),
      resampling(outputRate != inputRate)
{
    chain.params = setup.processing;
    chain.Configure(inputRate, channels);
    resampler.Configure(inputRate, outputRate, channels);
    resampler.SetCeiling(OutputCeiling(setup.processing));
    meter.Configure(outputRate, channels);
    meter.Watch(); // the file's loudness is printed at its end
    block.resize(blockFrames * channels);
}

bool OfflineProcessor::Push(const int16_t* samples, size_t frames, const OfflineBlockSink& sink)
{
    while (frames > 0) {
        const size_t take = std::min(frames, blockFrames - blockFill);
        MapChannels(samples, take, inputChannels, block.data() + blockFill * channels, channels);
        samples += take * inputChannels;
        frames -= take;
        blockFill += take;
        if (blockFill == blockFrames && !RunBlock(sink))
            return false;
    }
    return true;
}

bool OfflineProcessor::Finish(const OfflineBlockSink& sink)
{
    const bool ok = blockFill == 0 || RunBlock(sink);
    meter.Flush();
    return ok;
}

bool OfflineProcessor::RunBlock(const OfflineBlockSink& sink)
{
    const size_t count = blockFill * channels;
    blockFill = 0;
    if (processing)
        chain.Process(block.data(), count * sizeof(int16_t));
    // The limiter's peak holds at the stream rate too (the resampler keeps its ceiling).
    const float knownPeak = processing ? chain.OutputTruePeak() : -1.0f;
    if (!resampling) {
        meter.Add(block.data(), count / channels, knownPeak);
        return sink(block.data(), count);
    }
    const size_t produced = resampler.Process(block.data(), count, resampled);
    meter.Add(resampled.data(), produced / channels, knownPeak);
    return produced == 0 || sink(resampled.data(), produced);
}
