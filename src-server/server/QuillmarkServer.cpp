#include "server/QuillmarkServer.h"

#include <algorithm>

#include "server/JobDistributionImpl.h"
#include "server/PostgresClassifierStore.h"
#include "xml/Document.h"
#include "xml/Element.h"

namespace norvale::quillmark {

namespace {

// What the requests being read or executed may hold, and what the answers clients leave unread
// may hold, each: a quarter of the memory the process may use, at least 64 MiB and at most
// 1 GiB; 0 (no bound) without a memory status.
std::size_t roadShare(const platform::memory::MemoryStatus* memory) {
    if (memory == nullptr) return 0;
    constexpr std::uint64_t MiB = 1 << 20;
    return static_cast<std::size_t>(
        std::clamp<std::uint64_t>(memory->total() / 4, 64 * MiB, 1024 * MiB));
}

// The held answers' bound is the road's share unless the settings name one.
net::server::EventServerLimits roadLimits(net::server::EventServerLimits limits,
                                          const platform::memory::MemoryStatus* memory) {
    if (limits.heldAnswerBytes == 0) limits.heldAnswerBytes = roadShare(memory);
    return limits;
}

}  // namespace

QuillmarkServer::SchemaFacts QuillmarkServer::addSchema(xml::SchemaCache& schemas,
                                                        const std::string& path) {
    xml::Document schema;
    schema.loadFromFile(path);
    SchemaFacts facts{schema.getTargetNamespace(), ""};
    schema.setSelectionNamespaces("xmlns:xs='http://www.w3.org/2001/XMLSchema'");
    const xml::Element root = schema.selectExactlyOne("/xs:schema");
    if (root.attributeExists("version")) facts.version = root.getAttribute("version");
    schemas.add(facts.targetNamespace, schema);
    return facts;
}

QuillmarkServer::QuillmarkServer(Log* log, Metrics* metrics, const QuillmarkServerFiles& files,
                                 const platform::thread::ThreadFactory* threads,
                                 const QuillmarkServerSettings& settings)
    : _callbacks(log),
      _classifiers(&_callbacks),
      _repository(repository(log, metrics, files, settings)),
      _request(addSchema(_schemas, settings.requestSchemaPath)),
      _response(addSchema(_schemas, settings.responseSchemaPath)),
      _responses(_response.targetNamespace, settings.maxOutput),
      _errors(_response.targetNamespace, _response.version),
      _archive(settings.archiveFolder.empty()
                   ? std::nullopt
                   : std::make_optional<XmlHookFactoryImpl>(
                         files.saveFile, files.existsFile, files.createFolder, log,
                         settings.archiveFolder, files.diskSpace)),
      _requests(_repository.get(), &_responses, &_errors, hooks(), &_schemas,
                _request.targetNamespace, settings.classifierRoot, log, metrics),
      _heldRequests(roadShare(files.memoryStatus)),
      _server(threads, settings.port, roadLimits(settings.limits, files.memoryStatus),
              connectionParams(log, metrics, settings.connection), settings.access) {
    if (_storeRepository) _follower.emplace(_store.get(), _storeRepository, threads);
    if (settings.metricsPort) {
        _metricsServer.emplace(threads, settings.metricsAddress, *settings.metricsPort,
                               [this, metrics] { return metrics->page(_repository->usage()); });
    }
}

void QuillmarkServer::start() {
    if (_follower) _follower->start();
    _server.start();
    if (_metricsServer) _metricsServer->start();
}

void QuillmarkServer::stop() {
    if (_metricsServer) _metricsServer->stop();
    _server.stop();
    if (_follower) _follower->stop();
    // Every request has ended: each classifier file is made to hold its journal's records.
    _repository->checkpoint();
}

std::unique_ptr<JobDistribution> QuillmarkServer::repository(
    Log* log, Metrics* metrics, const QuillmarkServerFiles& files,
    const QuillmarkServerSettings& settings) {
    if (settings.postgresConnection.empty()) {
        _files.emplace(files.loadFile, files.saveFile, files.existsFile, files.sizeFile,
                       files.removeFile, settings.lockFolder);
        return std::make_unique<JobDistributionImpl>(&_classifiers, files.memoryStatus, &*_files,
                                                     metrics, log);
    }
    _store = std::make_unique<PostgresClassifierStore>(
        settings.postgresConnection,
        std::max<std::size_t>(settings.limits.workers,
                              PostgresClassifierStore::DefaultMaxIdleConnections));
    const std::string& root = settings.classifierRoot;
    auto repository = std::make_unique<StoreJobDistribution>(
        &_classifiers, files.memoryStatus, _store.get(), root.empty() ? "" : root + "/", metrics);
    _storeRepository = repository.get();
    return repository;
}

const XmlHookFactory* QuillmarkServer::hooks() const {
    if (_archive) return &*_archive;
    return &_noArchive;
}

const ConnectionParams* QuillmarkServer::connectionParams(Log* log, Metrics* metrics,
                                                          const ConnectionParams& connection) {
    _params = connection;
    _params.log = log;
    _params.metrics = metrics;
    _params.classifierFactory = &_requests;
    _params.errorResponseFactory = &_errors;
    _params.heldRequests = &_heldRequests;
    return &_params;
}

}  // namespace norvale::quillmark
