#pragma once

#include <ctime>
#include <string>

namespace debug {

// The 24-character local time used by assertion reports and log lines, for example
// "Sun Dec 06 04:21:53 2026": English weekday and month, two-digit day, 24-hour clock.
constexpr std::size_t TimeTextLength = 24;

std::string timeText(std::time_t when);

// Writes the time text of `when` into `buffer` (at least TimeTextLength + 1 bytes) without
// allocating; returns false if the local time cannot be determined.
bool formatTimeText(std::time_t when, char* buffer, std::size_t size);

}  // namespace debug
