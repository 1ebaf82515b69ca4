#include "server/XmlClassifierFactoryImpl.h"

#include <utility>

#include "server/XmlClassifier.h"

namespace norvale::quillmark {

XmlClassifierFactoryImpl::XmlClassifierFactoryImpl(
    JobDistribution* repository, const ResponseFactory* responseFactory,
    const ErrorResponseFactory* errorResponseFactory, const XmlHookFactory* hookFactory,
    const xml::SchemaCache* schemas, std::string requestNamespace, std::string classifierRoot,
    Log* log, Metrics* metrics)
    : _repository(repository),
      _responseFactory(responseFactory),
      _errorResponseFactory(errorResponseFactory),
      _hookFactory(hookFactory),
      _schemas(schemas),
      _checks(XmlClassifier::checksFor(schemas, requestNamespace)),
      _requestNamespace(std::move(requestNamespace)),
      _classifierRoot(std::move(classifierRoot)),
      _log(log),
      _metrics(metrics) {}

std::unique_ptr<StringClassifier> XmlClassifierFactoryImpl::create() const {
    return std::make_unique<XmlClassifier>(_repository, _responseFactory, _errorResponseFactory,
                                           _hookFactory->create(), _schemas, _checks,
                                           _requestNamespace, _classifierRoot, _log, _metrics);
}

}  // namespace norvale::quillmark
