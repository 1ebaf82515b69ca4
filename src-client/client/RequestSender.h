#pragma once

// Carries one request document to the server and returns everything the server sent back.
// Every failure to reach the server or to finish the exchange throws a
// net::socket::SocketException (ConnectException when no connection could be made).

#include <string>
#include <string_view>

namespace norvale::quillmark::client {

class RequestSender {
public:
    virtual ~RequestSender() = default;

    virtual std::string send(std::string_view request) = 0;
};

}  // namespace norvale::quillmark::client
