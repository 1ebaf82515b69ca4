#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace norvale::quillmark {

// What the crash reports of the log may cost, whatever clients do to cause Error lines:
// - one report per KindInterval for the same kind of Error line (the message's fixed lead: the
//   text before its first digit, quote or line break, at most KindLength characters), and reports
//   for at most MaxKinds kinds within one interval;
// - at most MaxFiles report files and MaxBytes bytes of them in the report folder: before a new
//   report is written the oldest ones are removed.
// Not thread-safe; the log calls it under its line lock.
class CrashReportBudget {
public:
    static constexpr std::time_t KindInterval = 10;
    static constexpr std::size_t KindLength = 64;
    static constexpr std::size_t MaxKinds = 64;
    static constexpr std::size_t MaxFiles = 100;
    static constexpr std::uintmax_t MaxBytes = 64u * 1024 * 1024;

    // True when a report for an Error line with this message may be written at `now`; counts it.
    bool admitError(const std::string& message, std::time_t now);

    // Removes the oldest report files of `folder` ("dump_*.dmp") until one more fits the file
    // and byte bounds; returns the paths removed. Files that cannot be listed or removed are left.
    static std::vector<std::string> makeRoom(const std::string& folder);

    static std::string kindOf(const std::string& message);

private:
    std::map<std::string, std::time_t> _lastReport;  // kind -> time of its last report
};

}  // namespace norvale::quillmark
