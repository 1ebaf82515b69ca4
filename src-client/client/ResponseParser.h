#pragma once

// Reads a response document of the server (success, no-calls or error document) into a
// Response. Element names are matched without regard to the namespace the server's response
// schema declares, so the client keeps working with a server whose schemas name another one.
// Stateless; any thread.

#include <string>
#include <string_view>

#include "client/Response.h"
#include "exceptions/Exception.h"

namespace norvale::quillmark::client {

// The answer is not a response document (not XML, another root, a missing status, a number
// that is none).
class ResponseFormatException : public exceptions::Exception {
public:
    using Exception::Exception;
};

Response parseResponse(std::string_view document);

// The server writes keyword texts as the bytes it was trained with, so a response may hold
// bytes that are not UTF-8, or control bytes XML does not allow. protectBytes replaces each such
// byte b by the character U+10FF00 + b, which leaves a well-formed document; restoreBytes turns
// those characters back into the bytes. A document that needs no protection is left unchanged,
// and so are the texts read from it.
std::string protectBytes(std::string_view text);
std::string restoreBytes(std::string_view text);

}  // namespace norvale::quillmark::client
