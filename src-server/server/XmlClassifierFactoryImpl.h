#pragma once

#include <memory>
#include <string>

#include "server/ErrorResponseFactory.h"
#include "server/JobDistribution.h"
#include "server/Log.h"
#include "server/Metrics.h"
#include "server/ResponseFactory.h"
#include "server/StringClassifierFactory.h"
#include "server/XmlClassifier.h"
#include "server/XmlHook.h"

namespace xml {
class SchemaCache;
}

namespace norvale::quillmark {

// Makes the XmlClassifier of each connection from the objects every connection shares. Built
// once at start-up; every pointer must outlive the factory and everything it makes.
class XmlClassifierFactoryImpl : public StringClassifierFactory {
public:
    // `schemas` holds the request schema under `requestNamespace` and is complete (it is only
    // read from here on); `classifierRoot` is the folder of the classifier files.
    XmlClassifierFactoryImpl(JobDistribution* repository, const ResponseFactory* responseFactory,
                             const ErrorResponseFactory* errorResponseFactory,
                             const XmlHookFactory* hookFactory, const xml::SchemaCache* schemas,
                             std::string requestNamespace, std::string classifierRoot, Log* log,
                             Metrics* metrics);

    std::unique_ptr<StringClassifier> create() const override;

private:
    JobDistribution* _repository;
    const ResponseFactory* _responseFactory;
    const ErrorResponseFactory* _errorResponseFactory;
    const XmlHookFactory* _hookFactory;
    const xml::SchemaCache* _schemas;
    const XmlClassifier::Checks _checks;
    const std::string _requestNamespace;
    const std::string _classifierRoot;
    Log* _log;
    Metrics* _metrics;
};

}  // namespace norvale::quillmark
