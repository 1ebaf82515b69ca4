#pragma once

#include <map>
#include <string>

#include "platform/errorresources/ErrorMapper.h"

namespace posix::net {

// Descriptions of the error codes the socket layer can meet: errno values of socket calls and the
// negative EAI_* codes of getaddrinfo, each as "short title. explanation". It is the mapper of the
// system error text, so its text only shows when strerror has none (in practice: the getaddrinfo
// codes). Immutable after construction; any number of threads may share one.
class SocketErrors : public platform::errorresources::ErrorMapper {
public:
    SocketErrors();

    bool lookup(int code, std::string& text) const override;

private:
    // Adding a code twice is a failed internal check.
    void add(int code, const char* text);
    void addSystemErrors();
    void addConnectionErrors();
    void addNameLookupErrors();

    std::map<int, std::string> _errors;
};

}  // namespace posix::net
