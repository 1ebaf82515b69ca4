#include "FixedDocumentServer.h"

namespace bench {

namespace {

using norvale::quillmark::ConnectionParams;

class FixedDocumentClassifier : public norvale::quillmark::StringClassifier {
public:
    explicit FixedDocumentClassifier(const std::string* document) : _document(document) {}
    std::string process(std::string) override { return *_document; }

private:
    const std::string* _document;
};

}  // namespace

std::unique_ptr<norvale::quillmark::StringClassifier> FixedDocumentClassifierFactory::create()
    const {
    return std::make_unique<FixedDocumentClassifier>(&_document);
}

FixedDocumentServer::FixedDocumentServer(std::string document, std::uint32_t maxClients,
                                         std::uint32_t backlog)
    : _classifiers(std::move(document)),
      _params{norvale::quillmark::widenMaxInput(-1), &_log, &_metrics, &_classifiers, &_errors},
      _server(&_threads, 0, {maxClients, backlog, 0}, &_params) {
    _server.start();
}

FixedDocumentServer::~FixedDocumentServer() {
    _server.stop();
}

}  // namespace bench
