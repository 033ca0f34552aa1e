#include "base/LocalTime.h"

std::tm LocalCalendarTime(std::time_t moment)
{
    std::tm local{};
    localtime_s(&local, &moment);
    return local;
}
