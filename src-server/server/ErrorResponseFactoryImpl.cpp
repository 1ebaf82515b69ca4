#include "server/ErrorResponseFactoryImpl.h"

#include <utility>

#include "server/XmlErrorResponseImpl.h"

namespace norvale::quillmark {

ErrorResponseFactoryImpl::ErrorResponseFactoryImpl(std::string responseNamespace,
                                                   std::string schemaVersion)
    : _namespace(std::move(responseNamespace)), _version(std::move(schemaVersion)) {}

std::unique_ptr<ErrorResponse> ErrorResponseFactoryImpl::create() const {
    return std::make_unique<XmlErrorResponseImpl>(_namespace, _version);
}

}  // namespace norvale::quillmark
