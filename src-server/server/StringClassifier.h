#pragma once

#include <string>

namespace norvale::quillmark {

// Turns one request text into one response text. One object serves one connection.
class StringClassifier {
public:
    virtual ~StringClassifier() = default;
    virtual std::string process(const std::string& request) = 0;
};

}  // namespace norvale::quillmark
