#include "server/ResponseFactoryImpl.h"

#include <utility>

#include "server/XmlResponseImpl.h"

namespace norvale::quillmark {

ResponseFactoryImpl::ResponseFactoryImpl(std::string responseNamespace)
    : _namespace(std::move(responseNamespace)) {}

std::unique_ptr<Response> ResponseFactoryImpl::create(const RequestVersion& version) const {
    return std::make_unique<XmlResponseImpl>(_namespace, version);
}

}  // namespace norvale::quillmark
