#pragma once

#include <string>
#include <string_view>

namespace norvale::quillmark {

// The protocol version a request declares on its root. Only two versions exist: "1.01", which
// adds the text coverage to classifications, and "1.00", which every other number falls back
// to. A plain value type; the text is echoed as the version of the success document.
class RequestVersion {
public:
    static constexpr std::size_t MaxTextLength = 7;

    // `text` must not be longer than MaxTextLength (a failed internal check otherwise).
    RequestVersion(std::string_view text, double value);

    // Reads the root's version attribute. Throws util::NumberFormatException when it is no
    // number.
    static RequestVersion parse(const std::string& attribute);

    const char* getText() const { return _text; }
    double getValue() const { return _value; }

    // Version 1.00 clients do not know the textCoverage attribute.
    bool hasTextCoverage() const { return _value > 1.0; }

private:
    char _text[MaxTextLength + 1];
    double _value;
};

}  // namespace norvale::quillmark
