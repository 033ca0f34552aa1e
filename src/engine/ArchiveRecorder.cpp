#include "engine/ArchiveRecorder.h"

#include <cstdio>
#include <system_error>

#include "base/ExecutablePath.h"
#include "base/LocalTime.h"
#include "base/Log.h"
#include "encoder/FrameHeaders.h"

namespace {

constexpr uint32_t kAdtsRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                   22050, 16000, 12000, 11025, 8000,  7350};
constexpr size_t kAdtsHeaderBytes = 7;
// More files of one second than any reconnection loop makes.
constexpr int kNameAttempts = 100;
constexpr size_t kTakeBytes = 16384;

// One unit at the front of the pending bytes: a whole frame or page, bytes that are none
// (kept as they are, a byte at a time), or the start of one still arriving.
struct PendingUnit {
    bool partial = false;
    bool known = false;
    uint64_t bytes = 1;
    double seconds = 0.0;
    bool beginsStream = false;
    int64_t granule = -1;
};

PendingUnit ReadPendingUnit(Codec codec, const uint8_t* data, uint64_t size)
{
    PendingUnit unit;
    if (codec == Codec::Opus) {
        const std::optional<OggPageHeader> page = ReadOggPageHeader(data, size);
        if (page) {
            unit.known = true;
            unit.bytes = page->bytes;
            unit.beginsStream = page->beginsStream;
            unit.granule = page->granule;
        } else if (size < kOggHeaderBytes + 255) {
            unit.partial = true;
        }
    } else if (codec == Codec::Mp3) {
        const std::optional<MpegFrameHeader> header = ReadMpegHeader(data, size);
        if (header) {
            unit.known = true;
            unit.bytes = header->bytes;
            unit.seconds = static_cast<double>(header->samples) / header->sampleRate;
        } else if (size < 4) {
            unit.partial = true;
        }
    } else {
        const std::optional<AdtsFrameHeader> header = ReadAdtsHeader(data, size);
        if (header) {
            unit.known = true;
            unit.bytes = header->bytes;
            unit.seconds = static_cast<double>(header->samples) / header->sampleRate;
        } else if (size < kAdtsHeaderBytes) {
            unit.partial = true;
        }
    }
    if (unit.bytes > size)
        unit.partial = true;
    return unit;
}

const char* ArchiveExtension(Codec codec)
{
    return codec == Codec::Opus ? ".opus" : codec == Codec::Mp3 ? ".mp3" : ".aac";
}

} // namespace

std::optional<AdtsFrameHeader> ReadAdtsHeader(const uint8_t* data, uint64_t size)
{
    if (size < kAdtsHeaderBytes || data[0] != 0xFF || (data[1] & 0xF6) != 0xF0)
        return std::nullopt;
    const uint32_t rateIndex = (data[2] >> 2) & 0x0F;
    if (rateIndex >= sizeof(kAdtsRates) / sizeof(kAdtsRates[0]))
        return std::nullopt;
    AdtsFrameHeader header;
    header.bytes = (static_cast<uint32_t>(data[3] & 0x03) << 11) | (static_cast<uint32_t>(data[4]) << 3) |
                   (static_cast<uint32_t>(data[5]) >> 5);
    const uint32_t headerBytes = (data[1] & 0x01) ? 7 : 9; // protection absent, else a CRC follows
    if (header.bytes < headerBytes)
        return std::nullopt;
    header.samples = 1024 * ((data[6] & 0x03) + 1u);
    header.sampleRate = kAdtsRates[rateIndex];
    return header;
}

std::string ArchiveFileStem(const std::string& mountPoint, const std::tm& local)
{
    std::string mount = mountPoint.rfind('/', 0) == 0 ? mountPoint.substr(1) : mountPoint;
    for (char& c : mount) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    }
    if (mount.empty())
        mount = "stream";
    char time[48];
    std::snprintf(time, sizeof(time), "_%04d-%02d-%02d_%02d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return mount + time;
}

std::string RecordingStoppedText(const std::string& folder, const std::string& reason)
{
    return "Recording stopped: cannot write to the folder \"" + folder + "\": " + reason;
}

bool ArchiveRecorder::Start(const ArchiveOptions& recordOptions)
{
    Finish();
    options = recordOptions;
    buffer.Reset();
    stopped = false;
    overflowed = false;
    firstFrameTime = 0;
    streamSeconds = fileSeconds = 0.0;
    lastGranule = 0;
    wantsStreamStart = options.codec == Codec::Opus;
    filePath.clear();
    fileBytes = 0;
    lastLogged.clear();
    {
        std::lock_guard<std::mutex> guard(problemLock);
        problem.clear();
        progress = {};
    }
    try {
        writer = std::thread([this] { WriterLoop(); });
    } catch (const std::system_error&) {
        StopRecording("no thread could be started");
        return false;
    }
    running = true;
    return true;
}

void ArchiveRecorder::Write(const uint8_t* frame, uint64_t size)
{
    if (!running || stopped.load(std::memory_order_relaxed) || overflowed.load(std::memory_order_relaxed))
        return;
    if (firstFrameTime.load(std::memory_order_relaxed) == 0)
        firstFrameTime.store(std::chrono::system_clock::now().time_since_epoch().count());
    // A frame that does not fit ends the recording here, so the file has no gap: the
    // writer writes out what is buffered and then stops.
    if (!buffer.Write(frame, size))
        overflowed.store(true);
}

void ArchiveRecorder::Finish()
{
    if (!running)
        return;
    buffer.Close();
    writer.join();
    running = false;
}

std::string ArchiveRecorder::Problem() const
{
    std::lock_guard<std::mutex> guard(problemLock);
    return problem;
}

ArchiveProgress ArchiveRecorder::Progress() const
{
    std::lock_guard<std::mutex> guard(problemLock);
    return progress;
}

void ArchiveRecorder::StopRecording(const std::string& reason)
{
    const std::string text = RecordingStoppedText(options.folder, reason);
    {
        std::lock_guard<std::mutex> guard(problemLock);
        problem = text;
        progress.file.clear();
    }
    stopped = true;
    file.Close();
    // A retry on a full disk may create its file and then write nothing into it.
    if (fileBytes == 0 && !filePath.empty()) {
        std::error_code ignored;
        std::filesystem::remove(filePath, ignored);
    }
    filePath.clear();
    pending.clear();
    retryAt = std::chrono::steady_clock::now() + options.retryInterval;
    if (text != lastLogged)
        LogLine("Engine", text);
    lastLogged = text;
}

void ArchiveRecorder::Resume()
{
    // Reset before frames are taken again: the next file is named by its own first frame.
    overflowed = false;
    firstFrameTime = 0;
    streamSeconds = fileSeconds = 0.0;
    pending.clear();
    wantsStreamStart = options.codec == Codec::Opus;
    stopped = false;
}

void ArchiveRecorder::WriterLoop()
{
    std::vector<uint8_t> chunk(kTakeBytes);
    pending.clear();
    auto lastSync = std::chrono::steady_clock::now();
    for (;;) {
        const uint64_t n = buffer.Take(chunk.data(), chunk.size());
        if (stopped.load()) {
            // What arrives while stopped is not recorded; the retry starts a new file.
            if (n == 0 && buffer.IsClosedAndEmpty())
                break;
            if (std::chrono::steady_clock::now() >= retryAt)
                Resume();
            continue;
        }
        if (n > 0) {
            pending.insert(pending.end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(n));
            if (!WriteWholeFrames())
                continue;
        } else if (buffer.IsClosedAndEmpty()) {
            break;
        }
        if (overflowed.load() && buffer.Count() == 0) {
            StopRecording("writing fell too far behind the stream (the recording buffer is full)");
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (file.IsOpen() && now - lastSync >= kSyncInterval) {
            lastSync = now;
            if (!file.Sync())
                StopRecording(file.LastError());
        }
    }
    file.Close();
}

bool ArchiveRecorder::WriteWholeFrames()
{
    const int64_t split = options.splitSeconds;
    const bool ogg = options.codec == Codec::Opus;
    size_t offset = 0;
    size_t runStart = 0;
    while (offset < pending.size()) {
        const PendingUnit unit = ReadPendingUnit(options.codec, pending.data() + offset, pending.size() - offset);
        if (unit.partial)
            break;
        double seconds = unit.seconds;
        if (ogg && unit.known) {
            // A page's sound is what its granule adds; headers carry none.
            if (unit.beginsStream)
                lastGranule = 0;
            if (unit.granule > lastGranule) {
                seconds = static_cast<double>(unit.granule - lastGranule) / 48000.0;
                lastGranule = unit.granule;
            }
        }
        const bool splitDue = split > 0 && unit.known && fileSeconds >= static_cast<double>(split);
        if (ogg) {
            // An Ogg file starts only where a logical stream begins; until one begins,
            // a due split waits and pages with no file to go to are not recorded.
            const bool wantsStart = !file.IsOpen() || splitDue;
            if (wantsStart && unit.beginsStream) {
                if (!WriteRun(runStart, offset) || !OpenFile())
                    return false;
                wantsStreamStart = false;
                runStart = offset;
            } else if (wantsStart) {
                wantsStreamStart = true;
                if (!file.IsOpen()) {
                    offset += unit.bytes;
                    runStart = offset;
                    streamSeconds += seconds;
                    continue;
                }
            }
        } else if (!file.IsOpen() || (splitDue && unit.known)) {
            if (!WriteRun(runStart, offset) || !OpenFile())
                return false;
            runStart = offset;
        }
        offset += unit.bytes;
        fileSeconds += seconds;
        streamSeconds += seconds;
    }
    if (!WriteRun(runStart, offset))
        return false;
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(offset));
    return true;
}

bool ArchiveRecorder::WriteRun(size_t runStart, size_t runEnd)
{
    if (runEnd == runStart || !file.IsOpen())
        return true;
    if (file.Write(pending.data() + runStart, runEnd - runStart)) {
        fileBytes += runEnd - runStart;
        {
            std::lock_guard<std::mutex> guard(problemLock);
            progress.bytesWritten += runEnd - runStart;
        }
        // Written again after a stop: the archive is whole from here on.
        if (!lastLogged.empty()) {
            lastLogged.clear();
            std::lock_guard<std::mutex> guard(problemLock);
            problem.clear();
        }
        return true;
    }
    StopRecording(file.LastError());
    return false;
}

bool ArchiveRecorder::OpenFile()
{
    namespace fs = std::filesystem;
    file.Close();
    const fs::path folder = Utf8Path(options.folder);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder)) {
        StopRecording(fs::exists(folder) ? "it is not a folder" : ec ? ec.message() : "it cannot be created");
        return false;
    }
    // The name tells when the file's first frame was taken: the connection's first frame
    // plus the sound before this one.
    const auto first = std::chrono::system_clock::time_point(std::chrono::system_clock::duration(firstFrameTime.load()));
    const auto start = first + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                   std::chrono::duration<double>(streamSeconds));
    const std::string stem = ArchiveFileStem(options.mountPoint, LocalCalendarTime(std::chrono::system_clock::to_time_t(start)));
    for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
        // Appended piece by piece: GCC 12 warns falsely about operator+ here at -O3.
        std::string name = stem;
        if (attempt > 1) {
            name += '_';
            name += std::to_string(attempt);
        }
        name += ArchiveExtension(options.codec);
        if (file.Create(folder / Utf8Path(name))) {
            filePath = folder / Utf8Path(name);
            fileBytes = 0;
            {
                std::lock_guard<std::mutex> guard(problemLock);
                progress.file = PathText(filePath);
            }
            fileSeconds = 0.0;
            LogLine("Engine", "Recording to " + name);
            return true;
        }
        if (!file.AlreadyExisted())
            break;
    }
    StopRecording(file.AlreadyExisted() ? "every name for " + stem + " is taken" : file.LastError());
    return false;
}
