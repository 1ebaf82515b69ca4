#include "server/XmlClassifier.h"

#include <cstdint>
#include <exception>
#include <limits>
#include <utility>
#include <vector>

#include "classifier/Classification.h"
#include "classifier/ClassifierException.h"
#include "classifier/KeywordQueue.h"
#include "platform/errorresources/SystemErrorText.h"
#include "platform/mutex/ReaderAutoLock.h"
#include "server/CallException.h"
#include "server/ClassifierTransactionImpl.h"
#include "server/LogText.h"
#include "server/RequestShape.h"
#include "server/RequestVersion.h"
#include "server/StatusCode.h"
#include "util/NumberParser.h"

namespace norvale::quillmark {

namespace {

constexpr std::uint32_t MaxKeywords = 30;

const std::string ReadCallsWrapping =
    "\n\nOne of the read calls failed. Therefore the call sequence was not completed. Please fix "
    "the error and try again.\n";
const std::string WriteCallsWrapping =
    "\n\nOne of the write calls failed. Therefore any previous call in the request was rollbacked "
    "to avoid leaving the classifier in an undefined state (transactional behaviour). Please fix "
    "the error and try again.\n";

// An attribute the call needs; a call without it is a bad request (status 4000), not a failure
// of the XML layer.
std::string requiredAttribute(const RequestElement& call, const std::string& name) {
    if (!call.attributeExists(name)) {
        throw InternalCallException("The call " + call.getTagName() + " has no attribute '" + name +
                                    "'.");
    }
    return call.getAttribute(name);
}

// Classifier names become file names below the classifier root: only plain names, never a path,
// never a hidden file or "." / "..".
void checkClassifierName(const std::string& name) {
    if (!requestShape::isClassifierName(name)) {
        throw InternalCallException(
            "The classifier name '" + name +
            "' is not allowed. A classifier name has 1 to 100 letters, digits, '_', '-' or '.' "
            "and does not begin with '.'.");
    }
}

// 1.8 / (n + 1) for two or more classes: a word must speak for its class clearly more than for
// an even share of the classes. With fewer classes every word qualifies.
double keywordThreshold(std::size_t classes) {
    return classes >= 2 ? 1.8 / (static_cast<double>(classes) + 1.0) : 0.0;
}

// Turns any failure inside one call into the call exception CallFailure that names the call.
template <typename CallFailure, typename Body>
void guardCall(Log* log, const std::string& method, const std::string& callId, Body&& body) {
    try {
        body();
    } catch (const classifier::ClassifierException& e) {
        throw CallFailure(method, callId, e.what(), statusCode::BAD_REQUEST);
    } catch (const BadRequestException& e) {
        throw CallFailure(method, callId, e.what(), statusCode::BAD_REQUEST);
    } catch (const exceptions::Exception& e) {
        log->error("Caught an exception while iterating calls. Method: " + escapedForLog(method) +
                   ". " + escapedForLog(e.what()));
        throw CallFailure(method, callId, e.what(), statusCode::SERVER_ERROR);
    }
}

[[noreturn]] void unsupportedMethod(const std::string& method, const char* sequence) {
    throw InternalCallException("The method " + method + " is not supported in the " + sequence +
                                " sequence.");
}

}  // namespace

XmlClassifier::Checks XmlClassifier::checksFor(const xml::SchemaCache* schemas,
                                               const std::string& requestNamespace) {
    Checks checks;
    checks.textIds =
        schemas != nullptr && RequestTexts::coversConstraints(
                                  schemas->identityConstraints(requestNamespace), requestNamespace);
    checks.shape =
        checks.textIds && schemas->sourceChecksum(requestNamespace) == requestShape::SchemaChecksum;
    return checks;
}

XmlClassifier::XmlClassifier(JobDistribution* repository, const ResponseFactory* responseFactory,
                             const ErrorResponseFactory* errorResponseFactory,
                             std::unique_ptr<XmlHook> hook, const xml::SchemaCache* schemas,
                             Checks checks, const std::string& requestNamespace,
                             const std::string& classifierRoot, Log* log, Metrics* metrics)
    : _repository(repository),
      _responseFactory(responseFactory),
      _errorResponseFactory(errorResponseFactory),
      _requestNamespace(requestNamespace),
      _checks(checks),
      _document(schemas),
      _hook(std::move(hook)),
      _log(log),
      _metrics(metrics),
      _keyPrefix(classifierRoot.empty() ? "" : classifierRoot + "/") {
    _document.setSelectionNamespaces("xmlns:qm='" + _requestNamespace + "'");
}

std::string XmlClassifier::process(std::string request) {
    _errorResponse = _errorResponseFactory->create();
    // Archived before anything can fail, so that unreadable requests can be inspected too.
    _hook->save(request);
    try {
        return execute(std::move(request));
    } catch (...) {
        return answerFailure();
    }
}

std::string XmlClassifier::execute(std::string request) {
    std::optional<Request> read;
    if (_checks.shape) read = RequestReader::readUsual(request, _requestNamespace);
    if (!read) read = readTree(std::move(request));
    _response = _responseFactory->create(RequestVersion::parse(read->root.getAttribute("version")));
    if (read->readCalls) runReadCalls(read->texts, *read->readCalls);
    if (read->writeCalls) runWriteCalls(read->texts, *read->writeCalls);
    return _response->getResponse();
}

Request XmlClassifier::readTree(std::string request) {
    _document.loadFromMemory(std::move(request));
    validate();
    // Found by walking the tree: a request needs no XPath context of its own.
    const xml::Element root = requestRoot();
    RequestTexts texts(root, _requestNamespace);
    // A broken text id rule: validation in full refuses the request with its own report.
    if (_checks.textIds && !texts.referencesResolve(root, _requestNamespace)) _document.validate();
    return RequestReader::fromTree(root, std::move(texts), _requestNamespace);
}

xml::Element XmlClassifier::requestRoot() const {
    const xml::Element root = _document.rootElement();
    if (root.isNamed(_requestNamespace, "quillmark")) return root;
    // Without a schema any root passes validation; the selection reports it as it always has.
    return _document.selectExactlyOne("qm:quillmark");
}

// Validates the loaded request, leaving the text id rules to RequestTexts when it checks them.
// A refused request is validated again in full, so that the report is the validator's own.
void XmlClassifier::validate() const {
    if (!_checks.textIds) return _document.validate();
    try {
        _document.validate(xml::IdentityConstraints::LeftOut);
    } catch (const xml::ValidateException&) {
        _document.validate();
        throw;
    }
}

// Called inside a catch handler: answers the failure being handled, or logs and rethrows what
// no error document can answer.
std::string XmlClassifier::answerFailure() {
    try {
        throw;
    } catch (const xml::ValidateException& e) {
        const std::string message =
            std::string(
                "Validation of an request failed, please verify your that your XML is "
                "correct.") +
            e.what();
        _log->log(escapedForLog(message));
        return _errorResponse->getErrorResponse(statusCode::BAD_REQUEST, message);
    } catch (const xml::XMLException& e) {
        return _errorResponse->getErrorResponse(
            statusCode::BAD_REQUEST,
            std::string("Caught XMLException exception while trying to read xml parameters. ") +
                e.what());
    } catch (const AnswerTooLargeException& e) {
        return _errorResponse->getErrorResponse(statusCode::REQUEST_TOO_LARGE, e.what());
    } catch (const WriteCallException& e) {
        return _errorResponse->getErrorResponse(
            e.getStatusCode(), std::string(e.what()) + "\nCall id: " + e.getCallId() +
                                   "\nWriteCall: " + e.getMethod() + WriteCallsWrapping);
    } catch (const ReadCallException& e) {
        return _errorResponse->getErrorResponse(
            e.getStatusCode(), std::string(e.what()) + "\nCall id: " + e.getCallId() +
                                   "\nReadCall: " + e.getMethod() + ReadCallsWrapping);
    } catch (const exceptions::Exception& e) {
        const std::string lead = "An error occurred when executing a classifier query.\n\n";
        _log->error(lead + escapedForLog(e.what()));
        return _errorResponse->getErrorResponse(statusCode::SERVER_ERROR, lead + e.what());
    } catch (const xml::AtlException& e) {
        const std::string message =
            "An ATL exception was caught. " + platform::errorresources::systemErrorText(e.code());
        _log->error(message);
        return _errorResponse->getErrorResponse(statusCode::SERVER_ERROR, message);
    } catch (const std::exception& e) {
        _log->error(std::string("A std exception occured when trying to read xml parameters, "
                                "exception type: ") +
                    escapedForLog(e.what()));
        throw;
    } catch (...) {
        _log->error("An unknown ... exception was caught while trying to read xml parameters.");
        throw;
    }
}

void XmlClassifier::runReadCalls(const RequestTexts& texts, const RequestCalls& readCalls) {
    for (const RequestElement& call : readCalls.calls) {
        _callId = call.getAttribute("id");
        const std::string method = call.getTagName();
        guardCall<ReadCallException>(_log, method, _callId,
                                     [&] { executeReadCall(texts, call, method); });
    }
}

void XmlClassifier::executeReadCall(const RequestTexts& texts, const RequestElement& call,
                                    const std::string& method) {
    _metrics->called(method);
    if (method == "classify") {
        classify(texts, call);
    } else if (method == "classifyKeywords") {
        classifyKeywords(texts, call);
    } else if (method == "getInformation") {
        getInformation(call);
    } else {
        unsupportedMethod(method, "readCalls");
    }
}

void XmlClassifier::classify(const RequestTexts& texts, const RequestElement& call) {
    const std::string text = texts.lookup(requiredAttribute(call, "textId"));
    const auto shared = _repository->get(classifierKey(requiredAttribute(call, "classifierName")));
    platform::mutex::ReaderAutoLock lock(shared->reader());
    classifier::Classification classification;
    shared->classifier().classify(text, classification);
    _response->classify(_callId, classification);
}

void XmlClassifier::classifyKeywords(const RequestTexts& texts, const RequestElement& call) {
    const std::string text = texts.lookup(requiredAttribute(call, "textId"));
    const auto shared = _repository->get(classifierKey(requiredAttribute(call, "classifierName")));
    platform::mutex::ReaderAutoLock lock(shared->reader());
    const classifier::Classifier& engine = shared->classifier();
    classifier::KeywordQueue keywords(MaxKeywords,
                                      keywordThreshold(engine.getInformation().size()));
    engine.classifyKeywords(text, keywords);
    // The keywords point into the classifier: written while the reader lock is held.
    _response->classifyKeywords(_callId, keywords);
}

void XmlClassifier::getInformation(const RequestElement& call) {
    const auto shared = _repository->get(classifierKey(requiredAttribute(call, "classifierName")));
    platform::mutex::ReaderAutoLock lock(shared->reader());
    _response->getInformation(_callId, shared->classifier().getInformation());
}

void XmlClassifier::runWriteCalls(const RequestTexts& texts, const RequestCalls& writeCalls) {
    const std::string classifierName = writeCalls.element.getAttribute("classifierName");
    const std::string key = _keyPrefix + classifierName + ".dat";
    // Parsed as a signed 32-bit number and compared as an unsigned one; 0 is no limit.
    std::uint32_t sizeLimit = 0;
    if (writeCalls.element.attributeExists("maxSize")) {
        sizeLimit = static_cast<std::uint32_t>(static_cast<std::int32_t>(util::parseInteger(
            writeCalls.element.getAttribute("maxSize"), std::numeric_limits<std::int32_t>::min(),
            std::numeric_limits<std::int32_t>::max())));
    }
    ClassifierTransactionImpl transaction(_repository, key);
    for (const RequestElement& call : writeCalls.calls) {
        _callId = call.getAttribute("id");
        const std::string method = call.getTagName();
        guardCall<WriteCallException>(_log, method, _callId, [&] {
            // Refused at the first call, so that the call is named in the answer; a sequence
            // without calls never reaches the file.
            checkClassifierName(classifierName);
            executeWriteCall(texts, call, method, transaction, sizeLimit);
        });
    }
    transaction.commit();
}

void XmlClassifier::executeWriteCall(const RequestTexts& texts, const RequestElement& call,
                                     const std::string& method, ClassifierTransaction& transaction,
                                     std::uint32_t sizeLimit) {
    _metrics->called(method);
    if (method == "create") {
        transaction.create();
        _response->create(_callId);
    } else if (method == "remove") {
        transaction.remove();
        _response->remove(_callId);
    } else if (method == "addClass") {
        transaction.addClass(requiredAttribute(call, "className"));
        _response->addClass(_callId);
    } else if (method == "removeClass") {
        transaction.removeClass(requiredAttribute(call, "className"));
        _response->removeClass(_callId);
    } else if (method == "train") {
        train(texts, call, transaction, sizeLimit);
    } else if (method == "untrain") {
        untrain(texts, call, transaction);
    } else {
        unsupportedMethod(method, "writeCalls");
    }
}

void XmlClassifier::train(const RequestTexts& texts, const RequestElement& call,
                          ClassifierTransaction& transaction, std::uint32_t sizeLimit) {
    // The limit applies to the file as last stored, not to the working copy.
    if (sizeLimit != 0 && _repository->size(transaction.getName()) >= sizeLimit) {
        throw InternalCallException("The classifier has reached the maximum allowed size of " +
                                    std::to_string(sizeLimit) + " bytes.");
    }
    const std::string text = texts.lookup(requiredAttribute(call, "textId"));
    transaction.train(requiredAttribute(call, "className"), text);
    _response->train(_callId);
}

void XmlClassifier::untrain(const RequestTexts& texts, const RequestElement& call,
                            ClassifierTransaction& transaction) {
    const std::string text = texts.lookup(requiredAttribute(call, "textId"));
    transaction.untrain(requiredAttribute(call, "className"), text);
    _response->untrain(_callId);
}

std::string XmlClassifier::classifierKey(const std::string& classifierName) const {
    checkClassifierName(classifierName);
    return _keyPrefix + classifierName + ".dat";
}

}  // namespace norvale::quillmark
