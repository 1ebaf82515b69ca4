#pragma once

// Executes one XML request: archives it, reads it (RequestReader: in one pass when it has the
// usual shape, else from its tree validated against the request schema), runs its read calls on
// shared classifiers under their reader locks and its write calls in one transaction on one
// classifier, and answers with the success document or an error document
// that names the failed call. One object serves one connection and is used by its thread only;
// the repository, the factories, the schema cache and the log are shared with other threads.

#include <cstdint>
#include <memory>
#include <string>

#include "server/ErrorResponse.h"
#include "server/ErrorResponseFactory.h"
#include "server/JobDistribution.h"
#include "server/Log.h"
#include "server/Metrics.h"
#include "server/RequestReader.h"
#include "server/Response.h"
#include "server/ResponseFactory.h"
#include "server/StringClassifier.h"
#include "server/XmlHook.h"
#include "xml/Document.h"
#include "xml/Element.h"

namespace xml {
class SchemaCache;
}

namespace norvale::quillmark {

class ClassifierTransaction;

class XmlClassifier : public StringClassifier {
public:
    // What validation may leave to the server's own checks, which depends only on the loaded
    // request schema: decided once (checksFor) for every request.
    struct Checks {
        // The request schema's text id rules are checked by RequestTexts rather than the
        // validator.
        bool textIds = false;
        // Requests of the usual shape are read in one pass, without the validator
        // (RequestReader, requestShape).
        bool shape = false;
    };
    static Checks checksFor(const xml::SchemaCache* schemas, const std::string& requestNamespace);

    // Every pointer must outlive the object. `classifierRoot` is the folder of the classifier
    // files; an empty root puts them in the working directory. `checks` are checksFor(schemas,
    // requestNamespace).
    XmlClassifier(JobDistribution* repository, const ResponseFactory* responseFactory,
                  const ErrorResponseFactory* errorResponseFactory, std::unique_ptr<XmlHook> hook,
                  const xml::SchemaCache* schemas, Checks checks,
                  const std::string& requestNamespace, const std::string& classifierRoot, Log* log,
                  Metrics* metrics);

    // The response or error document. Throws only what no error document can answer: standard
    // library failures (out of memory) and unknown ones, both logged first.
    std::string process(std::string request) override;

private:
    void validate() const;
    std::string execute(std::string request);
    // The request read from its parsed tree, validated.
    Request readTree(std::string request);
    // The loaded request's root element, the request namespace's quillmark.
    xml::Element requestRoot() const;
    std::string answerFailure();

    void runReadCalls(const RequestTexts& texts, const RequestCalls& readCalls);
    void runWriteCalls(const RequestTexts& texts, const RequestCalls& writeCalls);
    void executeReadCall(const RequestTexts& texts, const RequestElement& call,
                         const std::string& method);
    void executeWriteCall(const RequestTexts& texts, const RequestElement& call,
                          const std::string& method, ClassifierTransaction& transaction,
                          std::uint32_t sizeLimit);

    void classify(const RequestTexts& texts, const RequestElement& call);
    void classifyKeywords(const RequestTexts& texts, const RequestElement& call);
    void getInformation(const RequestElement& call);
    void train(const RequestTexts& texts, const RequestElement& call,
               ClassifierTransaction& transaction, std::uint32_t sizeLimit);
    void untrain(const RequestTexts& texts, const RequestElement& call,
                 ClassifierTransaction& transaction);
    // Root prefix + name + ".dat". Refuses a name that is not a plain file name.
    std::string classifierKey(const std::string& classifierName) const;

    JobDistribution* _repository;
    const ResponseFactory* _responseFactory;
    const ErrorResponseFactory* _errorResponseFactory;
    std::string _requestNamespace;
    const Checks _checks;
    xml::Document _document;
    std::string _callId;
    std::unique_ptr<Response> _response;
    std::unique_ptr<ErrorResponse> _errorResponse;
    std::unique_ptr<XmlHook> _hook;
    Log* _log;
    Metrics* _metrics;
    std::string _keyPrefix;
};

}  // namespace norvale::quillmark
