#include "io/filesystem/TemporarySaveName.h"

#include <charconv>

namespace io::filesystem {

namespace {

constexpr std::string_view Marker = ".tmp-";

// The whole of text as a decimal number without sign, or nothing.
template <typename Number>
std::optional<Number> decimal(std::string_view text) {
    Number value{};
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::string TemporarySaveName::make(const std::string& target, pid_t pid, std::uint64_t number) {
    return target + std::string(Marker) + std::to_string(pid) + "-" + std::to_string(number);
}

std::optional<pid_t> TemporarySaveName::owner(std::string_view fileName) {
    const std::size_t marker = fileName.rfind(Marker);
    if (marker == std::string_view::npos || marker == 0) return std::nullopt;
    const std::string_view numbers = fileName.substr(marker + Marker.size());
    const std::size_t dash = numbers.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const std::optional<pid_t> pid = decimal<pid_t>(numbers.substr(0, dash));
    if (!pid || *pid <= 0 || !decimal<std::uint64_t>(numbers.substr(dash + 1))) {
        return std::nullopt;
    }
    return pid;
}

}  // namespace io::filesystem
