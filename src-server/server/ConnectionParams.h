#pragma once

// The settings and collaborators shared by every client connection of one server. Built once at
// start-up and read (never written) by the server's I/O and worker threads; nothing here is owned.

#include <chrono>
#include <cstdint>

#include "server/ErrorResponseFactory.h"
#include "server/HeldRequests.h"
#include "server/Log.h"
#include "server/Metrics.h"
#include "server/StringClassifierFactory.h"
#include "server/TerminateHandler.h"

namespace norvale::quillmark {

// The configured input limit is a signed 32-bit number; it is widened with its sign, so a
// negative setting becomes a limit no request can reach.
constexpr std::uint64_t widenMaxInput(std::int32_t setting) noexcept {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(setting));
}

struct ConnectionParams {
    static constexpr std::chrono::milliseconds DefaultIdleTimeout{30000};
    static constexpr std::chrono::milliseconds DefaultRequestTimeout{60000};
    static constexpr std::chrono::milliseconds DefaultSendTimeout{60000};

    // Largest request in bytes; a longer one is drained and answered with status 4013.
    std::uint64_t maxInput = 0;
    Log* log = nullptr;
    // Counts the connections, their bytes and their answers.
    Metrics* metrics = nullptr;
    // Makes the request executor of each connection.
    const StringClassifierFactory* classifierFactory = nullptr;
    // Makes the error-document writer each connection keeps for its own failures.
    const ErrorResponseFactory* errorResponseFactory = nullptr;
    // Installed by every thread that executes a request; may be null (tests).
    TerminateHandler* terminateHandler = nullptr;
    // A client that sends nothing for idleTimeout, or has not ended its request requestTimeout
    // after it connected, is dropped without an answer.
    std::chrono::milliseconds idleTimeout = DefaultIdleTimeout;
    std::chrono::milliseconds requestTimeout = DefaultRequestTimeout;
    // A client that has not read its whole answer sendTimeout after it was ready is dropped.
    std::chrono::milliseconds sendTimeout = DefaultSendTimeout;
    // Counts the bytes of the requests all connections hold; a request refused by its bound is
    // drained and answered with status 5030. Null: no bound.
    HeldRequests* heldRequests = nullptr;
};

}  // namespace norvale::quillmark
