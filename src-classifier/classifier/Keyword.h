#pragma once

// One word of a text that speaks for a class. It points into the classifier that produced it
// (the feature bytes stored in a lane, the class name in the class table) and owns nothing, so
// it is valid only while that classifier is unchanged: read keywords before any write to it.

#include <cstdint>
#include <string_view>

namespace norvale::classifier {

class Keyword {
public:
    // token must not be null; className is zero-terminated.
    Keyword(const char* token, std::uint32_t length, double probability, std::uint32_t count,
            const char* className);

    const char* token() const { return _token; }
    std::uint32_t length() const { return _length; }
    std::string_view tokenView() const { return {_token, _length}; }
    // The class's share of the word's score.
    double probability() const { return _probability; }
    // How often the word occurs in the text.
    std::uint32_t count() const { return _count; }
    const char* className() const { return _className; }

private:
    const char* _token;
    std::uint32_t _length;
    double _probability;
    std::uint32_t _count;
    const char* _className;
};

}  // namespace norvale::classifier
