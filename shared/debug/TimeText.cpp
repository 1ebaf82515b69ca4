#include "debug/TimeText.h"

#include <cstdio>

namespace debug {

namespace {
constexpr const char* WeekDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
}  // namespace

bool formatTimeText(std::time_t when, char* buffer, std::size_t size) {
    std::tm local{};
    if (size <= TimeTextLength || localtime_r(&when, &local) == nullptr) return false;
    // The names are fixed English text whatever the process locale says.
    const int written =
        std::snprintf(buffer, size, "%s %s %02d %02d:%02d:%02d %04d", WeekDays[local.tm_wday % 7],
                      Months[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                      local.tm_sec, local.tm_year + 1900);
    return written == static_cast<int>(TimeTextLength);
}

std::string timeText(std::time_t when) {
    char buffer[64];
    if (!formatTimeText(when, buffer, sizeof buffer)) return std::string(TimeTextLength, '?');
    return buffer;
}

}  // namespace debug
