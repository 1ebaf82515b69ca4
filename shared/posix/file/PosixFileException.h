#pragma once

#include "io/IOException.h"

namespace posix::file {

// Base of the file-layer failures that are I/O errors in their own right (module lookups).
class PosixFileException : public io::IOException {
public:
    using IOException::IOException;
};

}  // namespace posix::file
