#pragma once

#include "posix/debug/CrashReportWriter.h"
#include "posix/debug/WriteDump.h"

namespace posix::debug {

// Writes the text crash report of CrashReportWriter, flushed to disk before write returns.
class WriteDumpImpl : public WriteDump {
public:
    void write(const std::string& path) const override;

private:
    CrashReportWriter _writer;
};

}  // namespace posix::debug
