#pragma once

#include <ctime>

// The local calendar time of a moment, read thread-safely.
std::tm LocalCalendarTime(std::time_t moment);
