#pragma once

// The failure of one call of a request. Request execution turns every failure inside a call into
// a ReadCallException or WriteCallException that names the call (its tag name and id) and
// carries the status code of the error document; the handler of the whole request wraps the
// message with the call's id and kind.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "exceptions/Exception.h"
#include "server/BadRequestException.h"

namespace norvale::quillmark {

class CallException : public exceptions::Exception {
public:
    CallException(std::string method, std::string callId, std::string_view message,
                  std::int32_t statusCode)
        : Exception(message),
          _method(std::move(method)),
          _callId(std::move(callId)),
          _statusCode(statusCode) {}

    // The call's tag name as written in the request.
    const std::string& getMethod() const { return _method; }
    const std::string& getCallId() const { return _callId; }
    std::int32_t getStatusCode() const { return _statusCode; }

private:
    std::string _method;
    std::string _callId;
    std::int32_t _statusCode;
};

class ReadCallException : public CallException {
public:
    using CallException::CallException;
};

class WriteCallException : public CallException {
public:
    using CallException::CallException;
};

// A call refused by request execution itself (unsupported method, size limit, a text reference
// or classifier name it cannot use); answered with status 4000 like every bad request.
class InternalCallException : public BadRequestException {
public:
    using BadRequestException::BadRequestException;
};

}  // namespace norvale::quillmark
