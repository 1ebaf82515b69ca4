#include "server/ResponseFactoryImpl.h"

#include <utility>

#include "server/XmlResponseImpl.h"

namespace norvale::quillmark {

ResponseFactoryImpl::ResponseFactoryImpl(std::string responseNamespace, std::uint64_t maxAnswer)
    : _namespace(std::move(responseNamespace)), _maxAnswer(maxAnswer) {}

std::unique_ptr<Response> ResponseFactoryImpl::create(const RequestVersion& version) const {
    return std::make_unique<XmlResponseImpl>(_namespace, version, _maxAnswer);
}

}  // namespace norvale::quillmark
