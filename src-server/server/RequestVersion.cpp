#include "server/RequestVersion.h"

#include <cstring>

#include "debug/assertion.h"
#include "util/NumberParser.h"

namespace norvale::quillmark {

RequestVersion::RequestVersion(std::string_view text, double value) : _value(value) {
    QM_ASSERT(text.size() <= MaxTextLength, "A request version text is longer than 7 characters.");
    std::memcpy(_text, text.data(), text.size());
    _text[text.size()] = '\0';
}

RequestVersion RequestVersion::parse(const std::string& attribute) {
    // Compared exactly: "1.010" converts to the same double as "1.01".
    if (util::parseDouble(attribute) == 1.01) return RequestVersion("1.01", 1.01);
    return RequestVersion("1.00", 1.0);
}

}  // namespace norvale::quillmark
