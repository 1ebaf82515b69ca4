#pragma once

#include "exceptions/Exception.h"

namespace io {

// Base of every input/output failure (sockets, files). Callers that only need to know that an
// exchange with the outside world failed catch this one type.
class IOException : public exceptions::Exception {
public:
    using exceptions::Exception::Exception;
};

}  // namespace io
