#pragma once

#include <string>

#include "util/StringTokenizer.h"

namespace util {

class StringTokenizerImpl : public StringTokenizer {
public:
    StringTokenizerImpl(std::string text, std::string delimiters);

    std::size_t countTokens() const override;
    bool hasMoreTokens() const override;
    std::string nextToken() override;
    void nextToken(std::string& token) override;
    std::string peekToken(std::size_t tokensAheadOfNextToken) const override;

private:
    // Start of the first token at or after `from`, or npos.
    std::size_t skipDelimiters(std::size_t from) const;
    // One past the end of the token that starts at `start`.
    std::size_t tokenEnd(std::size_t start) const;

    std::string _text;
    std::string _delimiters;
    std::size_t _position;  // first character of the next token, npos when none is left
};

}  // namespace util
