#pragma once

// Progress of a command that sends many texts: on a terminal a bar redrawn in place (files
// done, bytes, rate, time left); otherwise nothing until the end. The clock is passed in so
// that rate and time left can be checked. Used by one thread.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace norvale::quillmark::client {

class Progress {
public:
    // Seconds since any fixed point.
    using Clock = std::function<double()>;

    // `out` (not owned) receives the bar when `terminal` is set. A total of 0 bytes means
    // unknown (standard input).
    Progress(std::ostream* out, bool terminal, Clock clock, std::uint64_t totalFiles,
             std::uint64_t totalBytes);

    // One request has been answered, carrying this many more files and bytes.
    void advance(std::uint64_t files, std::uint64_t bytes);
    // Removes the bar from the terminal line.
    void finish();

    std::uint64_t files() const { return _files; }
    std::uint64_t bytes() const { return _bytes; }
    std::uint64_t requests() const { return _requests; }
    double seconds() const;

    // The bar as drawn now, without the leading carriage return.
    std::string bar() const;
    // "2000 files, 5.6 MB in 12 requests, 3.1 s (1.8 MB/s)".
    std::string summary() const;

    // "512 B", "3.4 KB", "5.6 MB", "1.2 GB" (powers of 1024).
    static std::string formatBytes(double bytes);
    // "0:07", "12:34", "1:02:03".
    static std::string formatDuration(double seconds);

private:
    std::ostream* _out;
    bool _terminal;
    Clock _clock;
    double _start;
    std::uint64_t _totalFiles;
    std::uint64_t _totalBytes;
    std::uint64_t _files = 0;
    std::uint64_t _bytes = 0;
    std::uint64_t _requests = 0;
    std::size_t _drawnWidth = 0;
};

}  // namespace norvale::quillmark::client
