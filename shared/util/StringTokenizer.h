#pragma once

// Splits a text into tokens separated by runs of delimiter characters; empty tokens never occur.
// A tokenizer is a cursor over its own copy of the text and is used by one thread.

#include <cstddef>
#include <string>

namespace util {

class StringTokenizer {
public:
    virtual ~StringTokenizer() = default;

    // Tokens from the current position on, without moving.
    virtual std::size_t countTokens() const = 0;
    virtual bool hasMoreTokens() const = 0;
    // Takes the next token; calling it with no token left is a failed internal check.
    virtual std::string nextToken() = 0;
    virtual void nextToken(std::string& token) = 0;
    // The token `tokensAheadOfNextToken` places after the next one (0 is the next one), without
    // moving; asking beyond the last token is a failed internal check.
    virtual std::string peekToken(std::size_t tokensAheadOfNextToken) const = 0;
};

}  // namespace util
