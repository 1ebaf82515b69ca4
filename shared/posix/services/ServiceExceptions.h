#pragma once

// Failures of the service layer. ServiceException is the family: the service body catches it,
// the actions report it. The two "exists" exceptions tell the installed test apart from other
// failures.

#include "exceptions/Exception.h"

namespace posix::services {

class ServiceException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class ServiceAlreadyExistsException : public ServiceException {
public:
    using ServiceException::ServiceException;
};

class ServiceDoesNotExistsException : public ServiceException {
public:
    using ServiceException::ServiceException;
};

class SCManagerException : public ServiceException {
public:
    using ServiceException::ServiceException;
};

class ServiceDispatcherException : public ServiceException {
public:
    using ServiceException::ServiceException;
};

class ServiceMainException : public ServiceException {
public:
    using ServiceException::ServiceException;
};

}  // namespace posix::services
