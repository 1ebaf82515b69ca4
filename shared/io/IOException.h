#pragma once

#include "exceptions/Exception.h"

namespace io {

class IOException : public exceptions::Exception {
public:
    using Exception::Exception;
};

}  // namespace io
