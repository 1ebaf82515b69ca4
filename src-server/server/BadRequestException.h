#pragma once

#include "exceptions/Exception.h"

namespace norvale::quillmark {

// A request asked for something that cannot be done with the classifiers as they are (a missing
// or existing classifier, a size limit, a wrong text reference). Answered with status 4000.
class BadRequestException : public exceptions::Exception {
public:
    using Exception::Exception;
};

}  // namespace norvale::quillmark
