#pragma once

#include <string>

namespace norvale::quillmark {

// Turns one request text into one response text. One object serves one connection.
class StringClassifier {
public:
    virtual ~StringClassifier() = default;
    // Takes the request over: a large one is parsed where it lies, not copied.
    virtual std::string process(std::string request) = 0;
};

}  // namespace norvale::quillmark
