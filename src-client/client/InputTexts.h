#pragma once

// The texts a command sends: files (pipes included), every regular file below a folder
// (recursively, in path order), or standard input ("-", or nothing at all). Files are listed first
// with their sizes and read one at a time when they are sent, so memory holds one request, not a
// whole folder. Used by one thread.

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "exceptions/Exception.h"

namespace norvale::quillmark::client {

// A path that does not exist or cannot be read.
class InputException : public exceptions::Exception {
public:
    using Exception::Exception;
};

// Ctrl-C came while the read of an input waited for bytes.
class InputInterruptedException : public exceptions::Exception {
public:
    using Exception::Exception;
};

// The most the client reads of one text. The shipped server takes requests of up to 10 MiB
// (maxInput), and a text travels as Base64 in one request, a third larger; the client holds a text,
// its Base64 and its request at once. Far above what a server is given, the bound keeps an
// endless stream such as /dev/zero from taking all memory.
inline constexpr std::uint64_t MaxTextBytes = std::uint64_t{1} << 30;

struct InputText {
    // The path as given or found, "-" for standard input.
    std::string label;
    // Unknown (0) for standard input and pipes.
    std::uint64_t size = 0;
    bool standardInput = false;
};

class InputTexts {
public:
    // `standardInput` is not owned. Files are read through descriptors that wait in poll(2)
    // beside `interruptDescriptor` (when not -1): once that one is readable, a read that waits
    // ends. Standard input is read from `standardInputDescriptor` when it is not -1, else from
    // `standardInput`.
    explicit InputTexts(std::istream* standardInput, std::uint64_t maxTextBytes = MaxTextBytes,
                        int standardInputDescriptor = -1, int interruptDescriptor = -1);

    // The texts named by `arguments`, standard input for an empty list. Throws InputException.
    std::vector<InputText> collect(const std::vector<std::string>& arguments) const;

    // The bytes of one text, as they are. Throws InputException, or
    // InputInterruptedException.
    std::string read(const InputText& text) const;

private:
    // Reads `text` from `descriptor` to its end, at most the bound.
    std::string readDescriptor(int descriptor, const InputText& text) const;

    std::istream* _standardInput;
    std::uint64_t _maxTextBytes;
    int _standardInputDescriptor;
    int _interruptDescriptor;
};

}  // namespace norvale::quillmark::client
