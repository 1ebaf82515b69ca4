#include "posix/debug/SignalSafeClock.h"

#include "posix/debug/FixedText.h"

namespace posix::debug {

namespace {

constexpr const char* WeekDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr long SecondsPerDay = 86400;

struct CivilDate {
    long year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
CivilDate civilFromDays(long days) noexcept {
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const long year = static_cast<long>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

void appendTwoDigits(FixedText& text, long value) noexcept {
    const char digits[2] = {static_cast<char>('0' + value / 10 % 10),
                            static_cast<char>('0' + value % 10)};
    text.append(digits, 2);
}

}  // namespace

SignalSafeClock::SignalSafeClock() noexcept : _utcOffset(0) {
    const std::time_t current = now();
    std::tm local{};
    if (localtime_r(&current, &local) != nullptr) _utcOffset = local.tm_gmtoff;
}

std::time_t SignalSafeClock::now() noexcept {
    timespec current{};
    ::clock_gettime(CLOCK_REALTIME, &current);
    return current.tv_sec;
}

bool SignalSafeClock::timeText(std::time_t when, char* buffer, std::size_t size) const noexcept {
    if (size < 25) return false;
    const long local = static_cast<long>(when) + _utcOffset;
    long days = local / SecondsPerDay;
    long seconds = local % SecondsPerDay;
    if (seconds < 0) {
        seconds += SecondsPerDay;
        days -= 1;
    }
    const CivilDate date = civilFromDays(days);
    // 1970-01-01 was a Thursday.
    const long weekDay = ((days % 7) + 11) % 7;

    FixedText text(buffer, size);
    text.append(WeekDays[weekDay]).append(" ").append(Months[date.month - 1]).append(" ");
    appendTwoDigits(text, date.day);
    text.append(" ");
    appendTwoDigits(text, seconds / 3600);
    text.append(":");
    appendTwoDigits(text, seconds / 60 % 60);
    text.append(":");
    appendTwoDigits(text, seconds % 60);
    text.append(" ");
    const char year[4] = {static_cast<char>('0' + date.year / 1000 % 10),
                          static_cast<char>('0' + date.year / 100 % 10),
                          static_cast<char>('0' + date.year / 10 % 10),
                          static_cast<char>('0' + date.year % 10)};
    text.append(year, 4);
    return true;
}

}  // namespace posix::debug
