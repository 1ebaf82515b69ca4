#pragma once

#include "exceptions/Exception.h"

namespace xml {

// Failures of the XML document layer. Request handling tells a failed validation
// (ValidateException) apart from every other failure of the layer (XMLException).
class XMLException : public exceptions::Exception {
public:
    using exceptions::Exception::Exception;
};

class DocumentException : public XMLException {
public:
    using XMLException::XMLException;
};

class ValidateException : public XMLException {
public:
    using XMLException::XMLException;
};

class ElementException : public XMLException {
public:
    using XMLException::XMLException;
};

class NodeListException : public XMLException {
public:
    using XMLException::XMLException;
};

class SchemaCacheException : public XMLException {
public:
    using XMLException::XMLException;
};

// A call into the XML library that failed without reporting why; in practice the library could
// not allocate memory. It carries only an errno-style code for the system error text. It is
// deliberately outside the exceptions::Exception family: request handling catches the family
// first and answers this one separately ("An ATL exception was caught. " + the code's text).
class AtlException {
public:
    explicit AtlException(int code) noexcept : _code(code) {}

    int code() const noexcept { return _code; }

private:
    int _code;
};

}  // namespace xml
