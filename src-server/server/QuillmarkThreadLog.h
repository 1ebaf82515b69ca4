#pragma once

#include "platform/thread/ThreadLog.h"
#include "server/Log.h"

namespace norvale::quillmark {

// Lets logging threads report an exception that escaped their body to the process log, at
// level Error, before the process ends.
class QuillmarkThreadLog : public platform::thread::ThreadLog {
public:
    explicit QuillmarkThreadLog(Log* log) : _log(log) {}

    void report(const char* text) override { _log->error(text); }

private:
    Log* _log;
};

}  // namespace norvale::quillmark
