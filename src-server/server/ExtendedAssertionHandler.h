#pragma once

namespace norvale::quillmark {

// Receives failed internal checks of code that must not end the process itself (the classifier
// engine's failure callback): unlike the plain assertion routine, the handler reports and
// returns. Implementations are shared by every thread.
class ExtendedAssertionHandler {
public:
    virtual ~ExtendedAssertionHandler() = default;

    virtual void assertionFailed(const char* expression, const char* description, const char* file,
                                 int line) = 0;
};

}  // namespace norvale::quillmark
