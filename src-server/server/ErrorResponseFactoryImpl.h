#pragma once

#include <string>

#include "server/ErrorResponseFactory.h"

namespace norvale::quillmark {

class ErrorResponseFactoryImpl : public ErrorResponseFactory {
public:
    // Both values come from the response schema: its targetNamespace and its version attribute.
    ErrorResponseFactoryImpl(std::string responseNamespace, std::string schemaVersion);

    std::unique_ptr<ErrorResponse> create() const override;

private:
    const std::string _namespace;
    const std::string _version;
};

}  // namespace norvale::quillmark
