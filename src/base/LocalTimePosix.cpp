#include "base/LocalTime.h"

std::tm LocalCalendarTime(std::time_t moment)
{
    std::tm local{};
    localtime_r(&moment, &local);
    return local;
}
