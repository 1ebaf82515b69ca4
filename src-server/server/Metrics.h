#pragma once

// The server's counters for scraping: what the connections, the request executor, the repository
// and the log count as they go, and the page in Prometheus' text format (version 0.0.4) that shows
// them. Counting is a relaxed atomic add, so any thread may count at any time without a lock;
// a page is a snapshot of each counter, not of all of them at one instant. One object per
// process, made by whoever assembles the server and handed by pointer to those who count.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvale::quillmark {

class Metrics {
public:
    // What the repository holds when the page is written.
    struct Repository {
        std::size_t classifiers = 0;
        std::uint64_t storedBytes = 0;
    };

    // A call of a request, by its element name; other names are not counted.
    void called(std::string_view method);
    // An answer was handed to the client: its status code (see statusOf) and how long after the
    // whole request had arrived.
    void answered(int status, std::chrono::steady_clock::duration latency);
    void received(std::size_t bytes) { add(_bytesIn, bytes); }
    void sent(std::size_t bytes) { add(_bytesOut, bytes); }
    void connectionOpened() { add(_openConnections, 1); }
    void connectionClosed() { _openConnections.fetch_sub(1, std::memory_order_relaxed); }
    void requestQueued() { add(_waitingRequests, 1); }
    void requestTaken() { _waitingRequests.fetch_sub(1, std::memory_order_relaxed); }
    void classifierLoaded() { add(_loads, 1); }
    void classifierEvicted() { add(_evictions, 1); }
    // `sequences` write sequences were stored to their file (0 for a sync shared by sequences
    // counted when they were written); `sync` is how long the save or the sync took.
    void committed(std::chrono::steady_clock::duration sync, int sequences = 1);
    // A line of loglevel::Log .. loglevel::Test was written.
    void logged(int level);
    void crashReportWritten() { add(_crashReports, 1); }

    std::string page(const Repository& repository) const;

    // The statusCode attribute of a response or error document this server wrote (it stands
    // right after the root start tag); 0 when the document does not begin that way.
    static int statusOf(std::string_view document);

    // The upper bounds of the latency histogram's buckets in seconds, lowest first.
    static constexpr std::array<double, 16> LatencyBounds = {
        0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
        0.05,   0.1,     0.25,   0.5,   1.0,    2.5,   5.0,  10.0};

private:
    using Counter = std::atomic<std::uint64_t>;
    static constexpr std::size_t CallKinds = 9;
    static constexpr std::array<int, 5> StatusCodes = {2000, 4000, 4013, 5000, 5030};
    static constexpr std::size_t LogLevels = 4;

    static void add(Counter& counter, std::uint64_t amount) {
        counter.fetch_add(amount, std::memory_order_relaxed);
    }
    static void add(std::atomic<std::int64_t>& gauge, std::int64_t amount) {
        gauge.fetch_add(amount, std::memory_order_relaxed);
    }

    std::array<Counter, CallKinds> _calls{};
    // One more than the known codes: any other code.
    std::array<Counter, StatusCodes.size() + 1> _answers{};
    // Per bucket, not cumulative; the last one is above the highest bound.
    std::array<Counter, LatencyBounds.size() + 1> _latencyBuckets{};
    Counter _latencyNanoseconds{0};
    Counter _bytesIn{0};
    Counter _bytesOut{0};
    std::atomic<std::int64_t> _openConnections{0};
    std::atomic<std::int64_t> _waitingRequests{0};
    Counter _loads{0};
    Counter _evictions{0};
    Counter _commits{0};
    Counter _commitNanoseconds{0};
    std::array<Counter, LogLevels> _logLines{};
    Counter _crashReports{0};
};

}  // namespace norvale::quillmark
