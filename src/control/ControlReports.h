#pragma once

#include <string>
#include <string_view>

#include "control/ControlSnapshot.h"

// What the control interface answers with: JSON for people and scripts, the Prometheus
// text exposition format for monitoring. Pure functions of a snapshot.

// text as a JSON string, quotes included. Text that is not valid UTF-8 is read as
// Windows-1252, so the document always is.
std::string JsonString(std::string_view text);

// GET /status
std::string StatusJson(const ControlSnapshot& snapshot);

// GET /metrics (version 0.0.4 of the text format)
std::string MetricsText(const ControlSnapshot& snapshot);

// A JSON answer to a request: {"result":"...","message":"..."}, ending in a newline.
std::string ResultJson(std::string_view result, std::string_view message);
