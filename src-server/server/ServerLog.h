#pragma once

#include "net/server/ThreadServerLog.h"
#include "server/Log.h"

namespace norvale::quillmark {

// Lets the thread server report its accept-loop failures to the process log, at level Error.
class ServerLog : public net::server::ThreadServerLog {
public:
    explicit ServerLog(Log* log) : _log(log) {}

    void report(const char* text) override { _log->error(text); }

private:
    Log* _log;
};

}  // namespace norvale::quillmark
