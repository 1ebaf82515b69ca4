#pragma once

// A log that drops every line: the servers a benchmark compares log the same lines per request,
// so keeping the disk out makes the comparison about the work that differs. Stateless.

#include <string>

#include "server/Log.h"

namespace bench {

class DiscardingLog : public norvale::quillmark::Log {
public:
    void log(const std::string&) override {}
    void error(const std::string&) override {}
    void test(const std::string&) override {}
    void assertionFailed(const std::string&, const std::string&, const std::string&, int) override {
    }
};

}  // namespace bench
