#pragma once

#include <cstdint>
#include <string>

#include "server/ResponseFactory.h"

namespace norvale::quillmark {

class ResponseFactoryImpl : public ResponseFactory {
public:
    // The targetNamespace of the response schema; the bound of a success document in bytes
    // (0: none).
    explicit ResponseFactoryImpl(std::string responseNamespace, std::uint64_t maxAnswer = 0);

    std::unique_ptr<Response> create(const RequestVersion& version) const override;

private:
    const std::string _namespace;
    const std::uint64_t _maxAnswer;
};

}  // namespace norvale::quillmark
