#pragma once

#include <memory>

#include "server/RequestVersion.h"
#include "server/Response.h"

namespace norvale::quillmark {

// Makes the success-document writer of a request once its version is known. Created once at
// start-up and shared by every connection thread; create() may be called from any thread.
class ResponseFactory {
public:
    virtual ~ResponseFactory() = default;

    virtual std::unique_ptr<Response> create(const RequestVersion& version) const = 0;
};

}  // namespace norvale::quillmark
