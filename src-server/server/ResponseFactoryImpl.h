#pragma once

#include <string>

#include "server/ResponseFactory.h"

namespace norvale::quillmark {

class ResponseFactoryImpl : public ResponseFactory {
public:
    // The targetNamespace of the response schema.
    explicit ResponseFactoryImpl(std::string responseNamespace);

    std::unique_ptr<Response> create(const RequestVersion& version) const override;

private:
    const std::string _namespace;
};

}  // namespace norvale::quillmark
