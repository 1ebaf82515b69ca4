#pragma once

// The whole server over one classifier root (or one PostgreSQL database), wired once for the server
// program, the in-process test server, the benchmarks and the request fuzz target: the repository
// of classifiers on the given file services, request execution validating against the request
// schema, the optional request archive, the client road on an event server and, when asked, the
// metrics page on a port of its own. Construction loads both schemas and listens on the ports;
// start runs the workers. Construct, start, stop and destroy on one thread; the log, the metrics,
// the file services and the thread factory are not owned and must outlive the server.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "classifier/ClassifierFactoryImpl.h"
#include "io/filesystem/ExistsFile.h"
#include "io/filesystem/LoadFile.h"
#include "io/filesystem/RemoveFile.h"
#include "io/filesystem/SaveFile.h"
#include "io/filesystem/SizeFile.h"
#include "net/server/EventServer.h"
#include "platform/thread/ThreadFactory.h"
#include "posix/file/CreateFolder.h"
#include "posix/file/DiskSpace.h"
#include "posix/memory/MemoryStatus.h"
#include "server/ClassifierCallbackFactoryImpl.h"
#include "server/ClassifierStore.h"
#include "server/ClassifyServer.h"
#include "server/ConnectionParams.h"
#include "server/EmptyXmlHookFactoryImpl.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/FileClassifierStore.h"
#include "server/JobDistribution.h"
#include "server/Log.h"
#include "server/Metrics.h"
#include "server/MetricsServer.h"
#include "server/ResponseFactoryImpl.h"
#include "server/StoreFollower.h"
#include "server/StoreJobDistribution.h"
#include "server/XmlClassifierFactoryImpl.h"
#include "server/XmlHookFactoryImpl.h"
#include "xml/SchemaCache.h"

namespace norvale::quillmark {

// What the server reads and writes through; diskSpace is only asked when requests are archived.
struct QuillmarkServerFiles {
    const platform::memory::MemoryStatus* memoryStatus = nullptr;
    const io::filesystem::LoadFile* loadFile = nullptr;
    const io::filesystem::SaveFile* saveFile = nullptr;
    const io::filesystem::ExistsFile* existsFile = nullptr;
    const io::filesystem::SizeFile* sizeFile = nullptr;
    const io::filesystem::RemoveFile* removeFile = nullptr;
    const posix::file::DiskSpace* diskSpace = nullptr;
    const posix::file::CreateFolder* createFolder = nullptr;
};

struct QuillmarkServerSettings {
    std::string classifierRoot;
    // The named locks of the classifier files; shared by every server on the same root.
    std::string lockFolder;
    // A libpq connection string: the classifiers are kept in that PostgreSQL database instead
    // of the classifier root, shared with every server connected to it. Empty: the root.
    std::string postgresConnection;
    std::string requestSchemaPath;
    std::string responseSchemaPath;
    // Empty: requests are not archived.
    std::string archiveFolder;
    // 0: a port the system picks (localPort tells it).
    std::uint16_t port = 0;
    net::server::EventServerLimits limits;
    // The listen address and the networks clients may come from.
    net::server::EventServerAccess access;
    // The port of the metrics page (0: one the system picks); none: no metrics page.
    std::optional<std::uint16_t> metricsPort;
    std::string metricsAddress = "127.0.0.1";
    // The largest answer in bytes; 0: no bound.
    std::uint64_t maxOutput = 0;
    // Input limit, deadlines and terminate handler; the log and factories are the server's own.
    ConnectionParams connection;
};

class QuillmarkServer {
public:
    QuillmarkServer(Log* log, Metrics* metrics, const QuillmarkServerFiles& files,
                    const platform::thread::ThreadFactory* threads,
                    const QuillmarkServerSettings& settings);
    QuillmarkServer(const QuillmarkServer&) = delete;
    QuillmarkServer& operator=(const QuillmarkServer&) = delete;

    void start();
    void stop();
    std::uint16_t localPort() const { return _server.localPort(); }
    // The port of the metrics page; 0 when there is none.
    std::uint16_t metricsPort() const { return _metricsServer ? _metricsServer->localPort() : 0; }

    // Request execution without the network: what a connection runs for each request.
    const StringClassifierFactory* requests() const { return &_requests; }
    const std::string& requestNamespace() const { return _request.targetNamespace; }
    const std::string& responseNamespace() const { return _response.targetNamespace; }

private:
    // What the server takes from a schema file besides the compiled schema.
    struct SchemaFacts {
        std::string targetNamespace;
        std::string version;
    };
    static SchemaFacts addSchema(xml::SchemaCache& schemas, const std::string& path);
    const XmlHookFactory* hooks() const;
    const ConnectionParams* connectionParams(Log* log, Metrics* metrics,
                                             const ConnectionParams& connection);
    std::unique_ptr<JobDistribution> repository(Log* log, Metrics* metrics,
                                                const QuillmarkServerFiles& files,
                                                const QuillmarkServerSettings& settings);

    ClassifierCallbackFactoryImpl _callbacks;
    classifier::ClassifierFactoryImpl _classifiers;
    std::optional<FileClassifierStore> _files;  // without postgresConnection
    // Null with classifier files.
    std::unique_ptr<ClassifierStore> _store;
    StoreJobDistribution* _storeRepository = nullptr;  // _repository on _store
    std::unique_ptr<JobDistribution> _repository;
    xml::SchemaCache _schemas;
    const SchemaFacts _request;
    const SchemaFacts _response;
    ResponseFactoryImpl _responses;
    ErrorResponseFactoryImpl _errors;
    EmptyXmlHookFactoryImpl _noArchive;
    std::optional<XmlHookFactoryImpl> _archive;
    XmlClassifierFactoryImpl _requests;
    HeldRequests _heldRequests;
    ConnectionParams _params;
    ClassifyServer _server;
    std::optional<MetricsServer> _metricsServer;
    std::optional<StoreFollower> _follower;  // with _store
};

}  // namespace norvale::quillmark
