#pragma once

#include "net/server/EventServerLog.h"
#include "server/Log.h"

namespace norvale::quillmark {

// Lets the event server report its accept failures and refused connections to the process log.
class ServerLog : public net::server::EventServerLog {
public:
    explicit ServerLog(Log* log) : _log(log) {}

    void report(const std::string& text) override { _log->log(text); }

private:
    Log* _log;
};

}  // namespace norvale::quillmark
