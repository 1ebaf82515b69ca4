#pragma once

// The transport's limit: the server's own connection road (ClassifyServer with the product's
// thread factory, reading each request to the end of the stream) answering
// every request with one fixed document, without parsing it, and logging nothing. Serves on a
// loopback port the system picks from construction to destruction; the document is the one the real
// server gives, so both servers send the same bytes both ways.

#include <cstdint>
#include <memory>
#include <string>

#include "DiscardingLog.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "server/ClassifyServer.h"
#include "server/ConnectionParams.h"
#include "server/ErrorResponseFactoryImpl.h"

namespace bench {

// Makes the string classifiers that answer every request with the same document.
class FixedDocumentClassifierFactory : public norvale::quillmark::StringClassifierFactory {
public:
    explicit FixedDocumentClassifierFactory(std::string document)
        : _document(std::move(document)) {}

    std::unique_ptr<norvale::quillmark::StringClassifier> create() const override;

private:
    std::string _document;
};

class FixedDocumentServer {
public:
    FixedDocumentServer(std::string document, std::uint32_t maxClients, std::uint32_t backlog);
    FixedDocumentServer(const FixedDocumentServer&) = delete;
    FixedDocumentServer& operator=(const FixedDocumentServer&) = delete;
    ~FixedDocumentServer();

    std::uint16_t port() const { return _server.localPort(); }

private:
    DiscardingLog _log;
    norvale::quillmark::Metrics _metrics;
    FixedDocumentClassifierFactory _classifiers;
    platform::thread::OsInfoImpl _os;
    platform::thread::ThreadFactoryImpl _threads{&_os};
    norvale::quillmark::ErrorResponseFactoryImpl _errors{"urn:quillmark:bench", "1.00"};
    norvale::quillmark::ConnectionParams _params;
    norvale::quillmark::ClassifyServer _server;
};

}  // namespace bench
