#pragma once

#include "exceptions/Exception.h"

namespace norvale::classifier {

// Thrown by the classifier engine and its feature storage for errors in the caller's data (an
// unknown extractor version, a missing or duplicate class). Header-only, so the storage library
// can throw it without linking the engine.
class ClassifierException : public exceptions::Exception {
public:
    using Exception::Exception;
};

}  // namespace norvale::classifier
