#include "control/ControlReports.h"

#include <cmath>
#include <cstdio>

#include "base/Utf8.h"

namespace {

// A number as JSON has it: null for one that is not finite (silence reads -inf).
std::string JsonNumber(double value, int decimals = 1)
{
    if (!std::isfinite(value))
        return "null";
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

// A sample value as Prometheus reads it: "+Inf", "-Inf", "NaN" or a plain number.
std::string MetricNumber(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    char text[64];
    // Counters stay exact up to 2^53 bytes.
    if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0)
        std::snprintf(text, sizeof(text), "%.0f", value);
    else
        std::snprintf(text, sizeof(text), "%.6g", value);
    return text;
}

// A label value: backslash, quote and line feed escaped; other bytes as UTF-8.
std::string LabelValue(std::string_view text)
{
    const std::string utf8 = IsValidUtf8(text) ? std::string(text) : Windows1252ToUtf8(text);
    std::string out;
    for (const char c : utf8) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

double LevelDb(float level)
{
    return level > 0.0f ? 20.0 * std::log10(static_cast<double>(level)) : -INFINITY;
}

class Metrics {
public:
    void Family(const char* name, const char* type, const char* help)
    {
        text += "# HELP ";
        text += name;
        text += ' ';
        text += help;
        text += "\n# TYPE ";
        text += name;
        text += ' ';
        text += type;
        text += '\n';
        current = name;
    }
    void Sample(double value, const std::string& labels = {})
    {
        text += current;
        if (!labels.empty())
            text += '{' + labels + '}';
        text += ' ' + MetricNumber(value) + '\n';
    }
    std::string text;

private:
    std::string current;
};

std::string OutputLabels(const OutputSnapshot& output)
{
    return "output=\"" + std::to_string(output.number) + "\",mount=\"" + LabelValue(output.mount) + "\"";
}

} // namespace

std::string JsonString(std::string_view text)
{
    const std::string utf8 = IsValidUtf8(text) ? std::string(text) : Windows1252ToUtf8(text);
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string StatusJson(const ControlSnapshot& s)
{
    std::string json = "{\"state\":" + JsonString(s.state);
    json += ",\"outputsOnAir\":" + std::to_string(s.OnAir());
    json += ",\"outputs\":[";
    for (size_t i = 0; i < s.outputs.size(); ++i) {
        const OutputSnapshot& o = s.outputs[i];
        json += i == 0 ? "{" : ",{";
        json += "\"number\":" + std::to_string(o.number);
        json += ",\"server\":" + JsonString(o.name);
        json += ",\"mount\":" + JsonString(o.mount);
        json += ",\"state\":" + JsonString(o.state);
        json += ",\"status\":" + JsonString(o.status);
        json += ",\"connected\":" + std::string(o.connected ? "true" : "false");
        json += ",\"bytesSent\":" + std::to_string(o.bytesSent);
        json += ",\"secondsOnAir\":" + std::to_string(o.secondsOnAir);
        json += ",\"reconnects\":" + std::to_string(o.reconnects);
        json += ",\"listeners\":" + (o.listeners < 0 ? std::string("null") : std::to_string(o.listeners));
        json += ",\"title\":" + JsonString(o.title);
        json += '}';
    }
    json += "]";
    json += ",\"levels\":{\"left\":" + JsonNumber(s.levelLeft, 3) + ",\"right\":" + JsonNumber(s.levelRight, 3) +
            ",\"leftDbfs\":" + JsonNumber(LevelDb(s.levelLeft)) + ",\"rightDbfs\":" + JsonNumber(LevelDb(s.levelRight)) +
            "}";
    json += ",\"loudness\":";
    if (s.loudnessMeasured)
        json += "{\"shortTermLufs\":" + JsonNumber(s.shortTermLufs) + ",\"integratedLufs\":" +
                JsonNumber(s.integratedLufs) + ",\"truePeakDbtp\":" + JsonNumber(s.truePeakDb) + "}";
    else
        json += "null";
    json += ",\"deadAir\":" + std::string(s.deadAir ? "true" : "false");
    json += ",\"recording\":{\"state\":" + JsonString(s.recording) + ",\"file\":" + JsonString(s.recordingFile) +
            ",\"bytesWritten\":" + std::to_string(s.recordingBytes) + ",\"problem\":" +
            JsonString(s.recordingProblem) + "}";
    json += "}\n";
    return json;
}

std::string MetricsText(const ControlSnapshot& s)
{
    Metrics m;
    m.Family("kelm_vantoro_output_up", "gauge", "Whether the output streams or is trying to (1) or is off (0).");
    for (const OutputSnapshot& o : s.outputs)
        m.Sample(o.up ? 1 : 0, OutputLabels(o));
    m.Family("kelm_vantoro_output_connected", "gauge", "Whether the output is connected to its server and on air.");
    for (const OutputSnapshot& o : s.outputs)
        m.Sample(o.connected ? 1 : 0, OutputLabels(o));
    m.Family("kelm_vantoro_output_sent_bytes_total", "counter",
             "Bytes sent to the server by the output's current connection.");
    for (const OutputSnapshot& o : s.outputs)
        m.Sample(static_cast<double>(o.bytesSent), OutputLabels(o));
    m.Family("kelm_vantoro_output_on_air_seconds", "gauge", "Time the output's current connection has been on air.");
    for (const OutputSnapshot& o : s.outputs)
        m.Sample(o.secondsOnAir, OutputLabels(o));
    m.Family("kelm_vantoro_output_reconnects_total", "counter", "Attempts to rebuild the output's lost stream.");
    for (const OutputSnapshot& o : s.outputs)
        m.Sample(o.reconnects, OutputLabels(o));
    m.Family("kelm_vantoro_output_listeners", "gauge", "Listeners the server reports for the output's mount.");
    for (const OutputSnapshot& o : s.outputs) {
        if (o.listeners >= 0)
            m.Sample(o.listeners, OutputLabels(o));
    }
    m.Family("kelm_vantoro_dead_air", "gauge", "Whether the dead-air alarm stands (1) or not (0).");
    m.Sample(s.deadAir ? 1 : 0);
    m.Family("kelm_vantoro_input_peak_dbfs", "gauge", "Peak level of the input channel, in dB of full scale.");
    m.Sample(LevelDb(s.levelLeft), "channel=\"left\"");
    m.Sample(LevelDb(s.levelRight), "channel=\"right\"");
    if (s.loudnessMeasured) {
        m.Family("kelm_vantoro_loudness_short_term_lufs", "gauge", "Short-term loudness (3 s) of the program, in LUFS.");
        m.Sample(s.shortTermLufs);
        m.Family("kelm_vantoro_loudness_integrated_lufs", "gauge",
                 "Integrated loudness of the program since the stream started, in LUFS.");
        m.Sample(s.integratedLufs);
        m.Family("kelm_vantoro_true_peak_dbtp", "gauge", "True peak of the program over the last 3 s, in dBTP.");
        m.Sample(s.truePeakDb);
    }
    m.Family("kelm_vantoro_recording", "gauge", "Whether the archive records (1) or not (0).");
    m.Sample(s.recording == "on" ? 1 : 0);
    m.Family("kelm_vantoro_recording_written_bytes_total", "counter", "Bytes written to the archive since the stream started.");
    m.Sample(static_cast<double>(s.recordingBytes));
    return m.text;
}

std::string ResultJson(std::string_view result, std::string_view message)
{
    return "{\"result\":" + JsonString(result) + ",\"message\":" + JsonString(message) + "}\n";
}
