#pragma once

// The log levels (lowest first) and their names: the configuration names them in lower case,
// log lines print them capitalised.

#include <string>

#include "exceptions/Exception.h"

namespace norvale::quillmark {

class LogLevelException : public exceptions::Exception {
public:
    using Exception::Exception;
};

namespace loglevel {
constexpr int Log = 0;
constexpr int Error = 1;
constexpr int Failure = 2;
constexpr int Test = 3;
}  // namespace loglevel

// "Log", "Error", "Failure" or "Test"; throws LogLevelException for any other number.
const char* logLevelName(int level);

// Compares the text lower-cased with "log", "error", "failure" and "test"; throws
// LogLevelException for any other text.
int logLevelFromText(const std::string& text);

}  // namespace norvale::quillmark
