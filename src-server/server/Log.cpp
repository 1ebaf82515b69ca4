#include "server/Log.h"

#include <new>

namespace norvale::quillmark {

namespace {

template <class Write>
void withString(const char* message, Write write) {
    std::string text;
    try {
        text = message != nullptr ? message : "";
    } catch (const std::bad_alloc&) {
        return;
    }
    write(text);
}

}  // namespace

void Log::assertionFailed(const char* expression, const char* description, const char* file,
                          int line) {
    try {
        assertionFailed(std::string(expression != nullptr ? expression : ""),
                        std::string(description != nullptr ? description : ""),
                        std::string(file != nullptr ? file : ""), line);
    } catch (const std::bad_alloc&) {
        // Nothing can be reported without memory; the failed check itself is not this call's.
    }
}

void Log::log(const char* message) {
    withString(message, [this](const std::string& text) { log(text); });
}

void Log::error(const char* message) {
    withString(message, [this](const std::string& text) { error(text); });
}

void Log::test(const char* message) {
    withString(message, [this](const std::string& text) { test(text); });
}

}  // namespace norvale::quillmark
