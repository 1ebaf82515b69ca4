#pragma once

#include <string>

#include "server/ErrorResponse.h"

namespace norvale::quillmark {

class XmlErrorResponseImpl : public ErrorResponse {
public:
    // `version` is the version attribute of the response schema.
    XmlErrorResponseImpl(std::string responseNamespace, std::string version);

    std::string getErrorResponse(int statusCode, const std::string& message) const override;

private:
    std::string _namespace;
    std::string _version;
};

}  // namespace norvale::quillmark
