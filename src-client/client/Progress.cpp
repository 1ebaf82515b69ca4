#include "client/Progress.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace norvale::quillmark::client {

namespace {

constexpr std::size_t BarWidth = 24;

std::string printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

Progress::Progress(std::ostream* out, bool terminal, Clock clock, std::uint64_t totalFiles,
                   std::uint64_t totalBytes)
    : _out(out),
      _terminal(terminal),
      _clock(std::move(clock)),
      _start(_clock()),
      _totalFiles(totalFiles),
      _totalBytes(totalBytes) {}

double Progress::seconds() const {
    return std::max(0.0, _clock() - _start);
}

void Progress::advance(std::uint64_t files, std::uint64_t bytes) {
    _files += files;
    _bytes += bytes;
    ++_requests;
    if (!_terminal) return;
    const std::string line = bar();
    *_out << '\r' << line;
    // Blanks over the rest of a longer earlier line.
    if (line.size() < _drawnWidth) *_out << std::string(_drawnWidth - line.size(), ' ');
    _drawnWidth = std::max(_drawnWidth, line.size());
    _out->flush();
}

void Progress::finish() {
    if (!_terminal || _drawnWidth == 0) return;
    *_out << '\r' << std::string(_drawnWidth, ' ') << '\r';
    _out->flush();
    _drawnWidth = 0;
}

std::string Progress::bar() const {
    const double fraction =
        _totalBytes > 0   ? static_cast<double>(_bytes) / static_cast<double>(_totalBytes)
        : _totalFiles > 0 ? static_cast<double>(_files) / static_cast<double>(_totalFiles)
                          : 0.0;
    const auto filled = static_cast<std::size_t>(std::lround(std::min(1.0, fraction) * BarWidth));
    std::string line = "[" + std::string(filled, '#') + std::string(BarWidth - filled, '-') + "] ";
    line += std::to_string(_files) + "/" + std::to_string(_totalFiles) + " files  ";
    line += formatBytes(static_cast<double>(_bytes));
    if (_totalBytes > 0) line += "/" + formatBytes(static_cast<double>(_totalBytes));
    const double elapsed = seconds();
    if (elapsed > 0 && _bytes > 0) {
        const double rate = static_cast<double>(_bytes) / elapsed;
        line += "  " + formatBytes(rate) + "/s";
        if (_totalBytes >= _bytes) {
            line +=
                "  " + formatDuration(static_cast<double>(_totalBytes - _bytes) / rate) + " left";
        }
    }
    return line;
}

std::string Progress::summary() const {
    const double elapsed = seconds();
    std::string text = std::to_string(_files) + (_files == 1 ? " file, " : " files, ") +
                       formatBytes(static_cast<double>(_bytes)) + " in " +
                       std::to_string(_requests) + (_requests == 1 ? " request, " : " requests, ") +
                       printed("%.1f s", elapsed);
    if (elapsed > 0) {
        text += " (" + formatBytes(static_cast<double>(_bytes) / elapsed) + "/s)";
    }
    return text;
}

std::string Progress::formatBytes(double bytes) {
    static const char* const Units[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024) return printed("%.0f B", bytes);
    std::size_t unit = 0;
    bytes /= 1024;
    while (bytes >= 1024 && unit + 1 < std::size(Units)) {
        bytes /= 1024;
        ++unit;
    }
    return printed("%.1f ", bytes) + Units[unit];
}

std::string Progress::formatDuration(double seconds) {
    const auto total = static_cast<long long>(std::ceil(std::max(0.0, seconds)));
    const long long hours = total / 3600;
    const long long minutes = total / 60 % 60;
    const long long rest = total % 60;
    char text[48];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, rest);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", minutes, rest);
    }
    return text;
}

}  // namespace norvale::quillmark::client
