#include "server/Metrics.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "server/LogLevel.h"

namespace norvale::quillmark {

namespace {

using Nanoseconds = std::chrono::nanoseconds;

constexpr std::array<std::string_view, 9> CallNames = {
    "classify", "classifyKeywords", "getInformation", "create", "remove",
    "addClass", "removeClass",      "train",          "untrain"};
constexpr std::array<std::string_view, 4> LevelNames = {"log", "error", "failure", "test"};
// The status element follows the declaration and the root start tag, well inside this.
constexpr std::size_t StatusSearchBytes = 512;
constexpr std::string_view StatusAttribute = "statusCode=\"";

std::uint64_t nanoseconds(std::chrono::steady_clock::duration duration) {
    const auto count = std::chrono::duration_cast<Nanoseconds>(duration).count();
    return count > 0 ? static_cast<std::uint64_t>(count) : 0;
}

std::string number(double value) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.9g", value);
    return std::string(text, static_cast<std::size_t>(length));
}

std::string seconds(std::uint64_t nanoseconds) {
    return number(static_cast<double>(nanoseconds) / 1e9);
}

// Writes the HELP and TYPE lines of a family.
void family(std::string& page, std::string_view name, std::string_view type,
            std::string_view help) {
    page.append("# HELP ").append(name).append(" ").append(help).append("\n");
    page.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void sample(std::string& page, std::string_view name, std::string_view labels,
            const std::string& value) {
    page.append(name);
    if (!labels.empty()) page.append("{").append(labels).append("}");
    page.append(" ").append(value).append("\n");
}

// A family of one sample without labels.
void single(std::string& page, std::string_view name, std::string_view type, std::string_view help,
            const std::string& value) {
    family(page, name, type, help);
    sample(page, name, "", value);
}

std::string label(std::string_view name, std::string_view value) {
    return std::string(name) + "=\"" + std::string(value) + "\"";
}

template <typename Atomic>
std::string load(const Atomic& value) {
    return std::to_string(value.load(std::memory_order_relaxed));
}

}  // namespace

void Metrics::called(std::string_view method) {
    const auto found = std::find(CallNames.begin(), CallNames.end(), method);
    if (found != CallNames.end())
        add(_calls[static_cast<std::size_t>(found - CallNames.begin())], 1);
}

void Metrics::answered(int status, std::chrono::steady_clock::duration latency) {
    const auto known = std::find(StatusCodes.begin(), StatusCodes.end(), status);
    add(_answers[static_cast<std::size_t>(known - StatusCodes.begin())], 1);
    const std::uint64_t spent = nanoseconds(latency);
    const double spentSeconds = static_cast<double>(spent) / 1e9;
    const auto bucket = std::lower_bound(LatencyBounds.begin(), LatencyBounds.end(), spentSeconds);
    add(_latencyBuckets[static_cast<std::size_t>(bucket - LatencyBounds.begin())], 1);
    add(_latencyNanoseconds, spent);
}

void Metrics::committed(std::chrono::steady_clock::duration sync, int sequences) {
    add(_commits, sequences);
    add(_commitNanoseconds, nanoseconds(sync));
}

void Metrics::logged(int level) {
    if (level >= loglevel::Log && level <= loglevel::Test) {
        add(_logLines[static_cast<std::size_t>(level)], 1);
    }
}

int Metrics::statusOf(std::string_view document) {
    const std::size_t at = document.substr(0, StatusSearchBytes).find(StatusAttribute);
    if (at == std::string_view::npos) return 0;
    const std::string_view digits = document.substr(at + StatusAttribute.size(), 4);
    int status = 0;
    const auto [end, failure] =
        std::from_chars(digits.data(), digits.data() + digits.size(), status);
    return failure == std::errc() && end == digits.data() + digits.size() ? status : 0;
}

std::string Metrics::page(const Repository& repository) const {
    std::string page;
    family(page, "quillmark_requests_total", "counter",
           "Requests answered, by the status code of the answer (other: any other code).");
    for (std::size_t i = 0; i <= StatusCodes.size(); ++i) {
        const std::string code = i < StatusCodes.size() ? std::to_string(StatusCodes[i]) : "other";
        sample(page, "quillmark_requests_total", label("status", code), load(_answers[i]));
    }
    family(page, "quillmark_calls_total", "counter", "Calls executed, by kind.");
    for (std::size_t i = 0; i < CallKinds; ++i) {
        sample(page, "quillmark_calls_total", label("call", CallNames[i]), load(_calls[i]));
    }

    family(page, "quillmark_request_duration_seconds", "histogram",
           "Time from a complete request to its answer, waiting for a worker included.");
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < _latencyBuckets.size(); ++i) {
        cumulative += _latencyBuckets[i].load(std::memory_order_relaxed);
        const std::string bound = i < LatencyBounds.size() ? number(LatencyBounds[i]) : "+Inf";
        sample(page, "quillmark_request_duration_seconds_bucket", label("le", bound),
               std::to_string(cumulative));
    }
    sample(page, "quillmark_request_duration_seconds_sum", "",
           seconds(_latencyNanoseconds.load(std::memory_order_relaxed)));
    sample(page, "quillmark_request_duration_seconds_count", "", std::to_string(cumulative));

    single(page, "quillmark_received_bytes_total", "counter", "Request bytes received.",
           load(_bytesIn));
    single(page, "quillmark_sent_bytes_total", "counter", "Answer bytes handed to clients.",
           load(_bytesOut));
    single(page, "quillmark_open_connections", "gauge", "Client connections open.",
           load(_openConnections));
    single(page, "quillmark_waiting_requests", "gauge", "Complete requests waiting for a worker.",
           load(_waitingRequests));

    single(page, "quillmark_classifiers", "gauge", "Classifiers in memory.",
           std::to_string(repository.classifiers));
    single(page, "quillmark_classifiers_stored_bytes", "gauge",
           "Size of the files the classifiers in memory were last loaded from or stored to.",
           std::to_string(repository.storedBytes));
    single(page, "quillmark_classifier_loads_total", "counter", "Classifiers loaded from file.",
           load(_loads));
    single(page, "quillmark_classifier_evictions_total", "counter",
           "Classifiers evicted from memory to make room.", load(_evictions));
    single(page, "quillmark_commits_total", "counter", "Write sequences stored to their file.",
           load(_commits));
    single(page, "quillmark_commit_sync_seconds_total", "counter",
           "Time spent storing write sequences to their files, synchronisation included.",
           seconds(_commitNanoseconds.load(std::memory_order_relaxed)));

    family(page, "quillmark_log_lines_total", "counter", "Log lines written, by level.");
    for (std::size_t i = 0; i < LogLevels; ++i) {
        sample(page, "quillmark_log_lines_total", label("level", LevelNames[i]),
               load(_logLines[i]));
    }
    single(page, "quillmark_crash_reports_total", "counter", "Crash reports written.",
           load(_crashReports));
    return page;
}

}  // namespace norvale::quillmark
