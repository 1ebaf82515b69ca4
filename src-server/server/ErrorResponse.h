#pragma once

#include <string>

namespace norvale::quillmark {

// Writes the error document that answers a failed request: a status element carrying the status
// code and the message. Request execution makes one per request through an ErrorResponseFactory;
// a connection thread uses its own instance only.
class ErrorResponse {
public:
    virtual ~ErrorResponse() = default;

    // The whole document. `message` may hold any bytes, line feeds included; it is escaped.
    virtual std::string getErrorResponse(int statusCode, const std::string& message) const = 0;
};

}  // namespace norvale::quillmark
