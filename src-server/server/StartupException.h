#pragma once

#include "exceptions/Exception.h"

namespace norvale::quillmark {

// Failures that end start-up. An ArgStartupException (a command line the server does not
// accept) is answered with the usage text; a SystemStartupException names a folder the server
// needs and cannot find.
class StartupException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class ArgStartupException : public StartupException {
public:
    using StartupException::StartupException;
};

class SystemStartupException : public StartupException {
public:
    using StartupException::StartupException;
};

}  // namespace norvale::quillmark
