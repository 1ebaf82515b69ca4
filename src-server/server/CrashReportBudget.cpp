#include "server/CrashReportBudget.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace norvale::quillmark {

namespace {

struct ReportFile {
    std::filesystem::file_time_type written;
    std::string path;
    std::uintmax_t bytes;
};

bool isReportName(const std::string& name) {
    return name.size() > 9 && name.compare(0, 5, "dump_") == 0 &&
           name.compare(name.size() - 4, 4, ".dmp") == 0;
}

std::vector<ReportFile> reportsIn(const std::string& folder) {
    std::vector<ReportFile> reports;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code fileError;
        if (!isReportName(entry->path().filename().native()) ||
            !entry->is_regular_file(fileError)) {
            continue;
        }
        const std::uintmax_t bytes = entry->file_size(fileError);
        const auto written = entry->last_write_time(fileError);
        if (!fileError) reports.push_back({written, entry->path().string(), bytes});
    }
    std::sort(reports.begin(), reports.end(), [](const ReportFile& a, const ReportFile& b) {
        return a.written != b.written ? a.written < b.written : a.path < b.path;
    });
    return reports;
}

}  // namespace

std::string CrashReportBudget::kindOf(const std::string& message) {
    const std::size_t end = message.find_first_of("0123456789'\"\r\n");
    return message.substr(0, std::min({end, message.size(), KindLength}));
}

bool CrashReportBudget::admitError(const std::string& message, std::time_t now) {
    std::erase_if(_lastReport, [now](const auto& entry) {
        return now - entry.second >= KindInterval || now < entry.second;
    });
    const std::string kind = kindOf(message);
    if (_lastReport.count(kind) != 0 || _lastReport.size() >= MaxKinds) return false;
    _lastReport.emplace(kind, now);
    return true;
}

std::vector<std::string> CrashReportBudget::makeRoom(const std::string& folder) {
    std::vector<ReportFile> reports = reportsIn(folder);
    std::uintmax_t bytes = 0;
    for (const ReportFile& report : reports) bytes += report.bytes;
    std::vector<std::string> removed;
    for (const ReportFile& report : reports) {
        if (reports.size() - removed.size() < MaxFiles && bytes < MaxBytes) break;
        std::error_code error;
        if (!std::filesystem::remove(report.path, error) || error) continue;
        bytes -= report.bytes;
        removed.push_back(report.path);
    }
    return removed;
}

}  // namespace norvale::quillmark
