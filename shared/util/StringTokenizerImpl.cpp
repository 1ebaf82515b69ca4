#include "util/StringTokenizerImpl.h"

#include <utility>

#include "debug/assertion.h"

namespace util {

StringTokenizerImpl::StringTokenizerImpl(std::string text, std::string delimiters)
    : _text(std::move(text)), _delimiters(std::move(delimiters)), _position(skipDelimiters(0)) {}

std::size_t StringTokenizerImpl::skipDelimiters(std::size_t from) const {
    return _text.find_first_not_of(_delimiters, from);
}

std::size_t StringTokenizerImpl::tokenEnd(std::size_t start) const {
    const std::size_t end = _text.find_first_of(_delimiters, start);
    return end == std::string::npos ? _text.size() : end;
}

std::size_t StringTokenizerImpl::countTokens() const {
    std::size_t count = 0;
    for (std::size_t start = _position; start != std::string::npos;
         start = skipDelimiters(tokenEnd(start))) {
        ++count;
    }
    return count;
}

bool StringTokenizerImpl::hasMoreTokens() const {
    return _position != std::string::npos;
}

std::string StringTokenizerImpl::nextToken() {
    QM_ASSERT(hasMoreTokens(), nullptr);
    const std::size_t end = tokenEnd(_position);
    std::string token = _text.substr(_position, end - _position);
    _position = skipDelimiters(end);
    return token;
}

void StringTokenizerImpl::nextToken(std::string& token) {
    token = nextToken();
}

std::string StringTokenizerImpl::peekToken(std::size_t tokensAheadOfNextToken) const {
    // Reported with the text of the original check; the condition also refuses a peek exactly
    // one past the last token, which has nothing to return.
    QM_ASSERT_TEXT(countTokens() > tokensAheadOfNextToken,
                   "countTokens() >= tokensAheadOfNextToken", nullptr);
    std::size_t start = _position;
    for (std::size_t i = 0; i < tokensAheadOfNextToken; ++i)
        start = skipDelimiters(tokenEnd(start));
    return _text.substr(start, tokenEnd(start) - start);
}

}  // namespace util
