#pragma once

// The whole request road of a server over one classifier folder, for end-to-end tests, their
// helper server program, the request benchmark and the request fuzz target (never linked into
// the product): the
// repository on the real file services, request execution validating against the staged
// request schema, and client connections on the event server at a port the system picks.
// QM_SCHEMA_DIR names the staged schema folder.

#include <chrono>
#include <cstdint>
#include <string>

#include "classifier/ClassifierFactoryImpl.h"
#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/LoadFileImpl.h"
#include "io/filesystem/RemoveFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/SizeFileImpl.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "posix/memory/MemoryStatusImpl.h"
#include "server/ClassifierCallbackFactoryImpl.h"
#include "server/ClassifyServer.h"
#include "server/ConnectionParams.h"
#include "server/EmptyXmlHookFactoryImpl.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/JobDistributionImpl.h"
#include "server/Log.h"
#include "server/ResponseFactoryImpl.h"
#include "server/XmlClassifierFactoryImpl.h"
#include "xml/Document.h"
#include "xml/Element.h"
#include "xml/SchemaCache.h"

namespace norvale::quillmark::testing {

// The staged schemas as the server loads them: the request schema in a cache for validating
// requests, the response schema in a cache of its own for checking answers, their namespaces and
// the response version.
class StagedSchemas {
public:
    StagedSchemas() {
        xml::Document request;
        request.loadFromFile(std::string(QM_SCHEMA_DIR) + "/server/RequestSchema.xsd");
        _requestNamespace = request.getTargetNamespace();
        cache.add(_requestNamespace, request);

        xml::Document response;
        response.setSelectionNamespaces("xmlns:xs='http://www.w3.org/2001/XMLSchema'");
        response.loadFromFile(std::string(QM_SCHEMA_DIR) + "/server/ResponseSchema.xsd");
        _responseNamespace = response.getTargetNamespace();
        _responseVersion = response.selectExactlyOne("xs:schema").getAttribute("version");
        responses.add(_responseNamespace, response);
    }

    const std::string& requestNamespace() const { return _requestNamespace; }
    const std::string& responseNamespace() const { return _responseNamespace; }
    const std::string& responseVersion() const { return _responseVersion; }

    xml::SchemaCache cache;
    xml::SchemaCache responses;

private:
    std::string _requestNamespace;
    std::string _responseNamespace;
    std::string _responseVersion;
};

// Request execution as the server wires it: the classifier factory with the logging callback,
// the repository on the real file services, response and error documents, no archive. The
// classifier files live in classifierRoot, the named locks in lockFolder.
class RequestExecution {
public:
    RequestExecution(const StagedSchemas* schemas, const std::string& classifierRoot,
                     const std::string& lockFolder, Log* log)
        : _callbacks(log),
          _classifiers(&_callbacks),
          _repository(&_classifiers, &_memory, &_loadFile, &_saveFile, &_existsFile, &_sizeFile,
                      &_removeFile, lockFolder),
          _responses(schemas->responseNamespace()),
          _errors(schemas->responseNamespace(), schemas->responseVersion()),
          _executors(&_repository, &_responses, &_errors, &_hooks, &schemas->cache,
                    schemas->requestNamespace(), classifierRoot, log) {}
    RequestExecution(const RequestExecution&) = delete;
    RequestExecution& operator=(const RequestExecution&) = delete;

    XmlClassifierFactoryImpl* executors() { return &_executors; }
    ErrorResponseFactory* errors() { return &_errors; }

private:
    ClassifierCallbackFactoryImpl _callbacks;
    classifier::ClassifierFactoryImpl _classifiers;
    platform::memory::MemoryStatusImpl _memory;
    io::filesystem::LoadFileImpl _loadFile;
    io::filesystem::SaveFileImpl _saveFile;
    io::filesystem::ExistsFileImpl _existsFile;
    io::filesystem::SizeFileImpl _sizeFile;
    io::filesystem::RemoveFileImpl _removeFile;
    JobDistributionImpl _repository;
    ResponseFactoryImpl _responses;
    ErrorResponseFactoryImpl _errors;
    EmptyXmlHookFactoryImpl _hooks;
    XmlClassifierFactoryImpl _executors;
};

// Serves from construction until stop or destruction. The classifier files live in
// classifierRoot, the named locks in lockFolder; both folders must exist.
class RequestServer {
public:
    // maxConnections 0: the server's default bound. readDeadline, when above 0, replaces both
    // the idle and the request deadline (a measurement that holds idle clients longer).
    RequestServer(const std::string& classifierRoot, const std::string& lockFolder, Log* log,
                  std::uint32_t maxClients = 64, std::size_t maxConnections = 0,
                  std::chrono::milliseconds readDeadline = std::chrono::milliseconds(0))
        : _execution(&_schemas, classifierRoot, lockFolder, log),
          _threads(&_os),
          _server(&_threads, 0, {maxClients, 128, maxConnections}, params(log, readDeadline)) {
        _server.start();
    }
    RequestServer(const RequestServer&) = delete;
    RequestServer& operator=(const RequestServer&) = delete;
    ~RequestServer() { _server.stop(); }

    std::uint16_t port() const { return _server.localPort(); }
    void stop() { _server.stop(); }
    const std::string& requestNamespace() const { return _schemas.requestNamespace(); }
    const std::string& responseNamespace() const { return _schemas.responseNamespace(); }

private:
    const ConnectionParams* params(Log* log, std::chrono::milliseconds readDeadline) {
        if (readDeadline.count() > 0) {
            _params.idleTimeout = readDeadline;
            _params.requestTimeout = readDeadline;
        }
        _params.maxInput = widenMaxInput(-1);
        _params.log = log;
        _params.classifierFactory = _execution.executors();
        _params.errorResponseFactory = _execution.errors();
        return &_params;
    }

    StagedSchemas _schemas;
    RequestExecution _execution;
    ConnectionParams _params;
    platform::thread::OsInfoImpl _os;
    platform::thread::ThreadFactoryImpl _threads;
    ClassifyServer _server;
};

// Request documents of the protocol, built as a client writes them.
class Requests {
public:
    explicit Requests(std::string requestNamespace) : _namespace(std::move(requestNamespace)) {}

    std::string document(const std::string& body) const {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quillmark xmlns=\"" + _namespace +
               "\" version=\"1.00\">" + body + "</quillmark>";
    }
    // create, then one addClass per class name.
    std::string create(const std::string& classifier,
                       const std::vector<std::string>& classes) const {
        std::string calls = "<create id=\"c\"/>";
        for (const std::string& name : classes) {
            calls += "<addClass id=\"" + name + "\" className=\"" + name + "\"/>";
        }
        return document("<writeCalls classifierName=\"" + classifier + "\">" + calls +
                        "</writeCalls>");
    }
    // One train call per text, all into className, in one transaction.
    std::string train(const std::string& classifier, const std::string& className,
                      const std::vector<std::string>& texts) const {
        std::string textElements;
        std::string calls;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const std::string id = "t" + std::to_string(i);
            textElements += "<text id=\"" + id + "\">" + texts[i] + "</text>";
            calls += "<train id=\"" + id + "\" className=\"" + className + "\" textId=\"" + id +
                     "\"/>";
        }
        return document("<texts>" + textElements + "</texts><writeCalls classifierName=\"" +
                        classifier + "\">" + calls + "</writeCalls>");
    }
    std::string classify(const std::string& classifier, const std::string& text) const {
        return document("<texts><text id=\"t\">" + text +
                        "</text></texts><readCalls><classify id=\"r\" classifierName=\"" +
                        classifier + "\" textId=\"t\"/></readCalls>");
    }
    std::string getInformation(const std::string& classifier) const {
        return document("<readCalls><getInformation id=\"i\" classifierName=\"" + classifier +
                        "\"/></readCalls>");
    }

private:
    std::string _namespace;
};

// The statusCode of a response or error document, -1 when it has none.
inline int statusOf(const std::string& document) {
    const std::string label = "statusCode=\"";
    const std::size_t start = document.find(label);
    if (start == std::string::npos) return -1;
    return std::atoi(document.c_str() + start + label.size());
}

// The getInformation part of a response, from the first class on: what tests compare.
inline std::string classesOf(const std::string& document) {
    const std::size_t start = document.find("<classes>");
    const std::size_t end = document.find("</classes>");
    if (start == std::string::npos || end == std::string::npos) return "";
    return document.substr(start, end - start);
}

// The totalCount of one class in a getInformation response, -1 when it is missing.
inline long totalCountOf(const std::string& document, const std::string& className) {
    const std::size_t at = document.find("<classInformation className=\"" + className + "\">");
    if (at == std::string::npos) return -1;
    const std::string label = "<totalCount>";
    const std::size_t count = document.find(label, at);
    if (count == std::string::npos) return -1;
    return std::atol(document.c_str() + count + label.size());
}

}  // namespace norvale::quillmark::testing
