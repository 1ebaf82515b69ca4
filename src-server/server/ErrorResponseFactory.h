#pragma once

#include <memory>

#include "server/ErrorResponse.h"

namespace norvale::quillmark {

// Makes the error-document writer of a request. Created once at start-up and shared by every
// connection thread; create() may be called from any thread at once.
class ErrorResponseFactory {
public:
    virtual ~ErrorResponseFactory() = default;

    virtual std::unique_ptr<ErrorResponse> create() const = 0;
};

}  // namespace norvale::quillmark
