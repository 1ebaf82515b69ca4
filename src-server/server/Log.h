#pragma once

// The process log. One object lives from process start to exit; every component that reports
// anything holds a Log* (not owned) and may call it from any thread, also while holding its own
// locks. The levels, lowest first: Log, Error, Failure (failed assertions), Test.

#include <string>

#include "server/ExtendedAssertionHandler.h"

namespace norvale::quillmark {

class Log : public ExtendedAssertionHandler {
public:
    ~Log() override = default;

    // Converts the texts and calls the string form; a null description counts as empty.
    void assertionFailed(const char* expression, const char* description, const char* file,
                         int line) override;

    virtual void log(const std::string& message) = 0;
    // The text forms build a string and call the string form; when memory for it cannot be had,
    // the message is dropped.
    virtual void log(const char* message);
    virtual void error(const std::string& message) = 0;
    virtual void error(const char* message);
    virtual void test(const std::string& message) = 0;
    virtual void test(const char* message);
    virtual void assertionFailed(const std::string& expression, const std::string& description,
                                 const std::string& file, int line) = 0;
};

}  // namespace norvale::quillmark
