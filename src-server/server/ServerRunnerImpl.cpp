#include "server/ServerRunnerImpl.h"

#include <memory>
#include <optional>
#include <utility>

#include "classifier/ClassifierFactoryImpl.h"
#include "platform/thread/MethodCaller0.h"
#include "posix/signals/StopSignals.h"
#include "server/ClassifierCallbackFactoryImpl.h"
#include "server/ClassifyServer.h"
#include "server/ConfigurationFile.h"
#include "server/ConnectionParams.h"
#include "server/EmptyXmlHookFactoryImpl.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/JobDistributionImpl.h"
#include "server/LeftoverSaveFiles.h"
#include "server/LogLevel.h"
#include "server/Product.h"
#include "server/ResponseFactoryImpl.h"
#include "server/XmlClassifierFactoryImpl.h"
#include "server/XmlHookFactoryImpl.h"
#include "server/test/SystemTest.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"

namespace norvale::quillmark {

namespace {

constexpr std::uint64_t BytesPerMegabyte = 1000000;

// The folder of the named locks that guard the classifier files; every server that shares the
// classifier root shares it. Its name cannot be a classifier's, which never starts with '.'.
const char* const LockFolderName = ".locks";

std::string megabytes(std::uint64_t bytes) {
    return std::to_string(bytes / BytesPerMegabyte);
}

// What the server takes from a schema file besides the compiled schema.
struct SchemaFacts {
    std::string targetNamespace;
    std::string version;
};

SchemaFacts addSchema(xml::SchemaCache& schemas, const std::string& path) {
    xml::Document schema;
    schema.loadFromFile(path);
    SchemaFacts facts{schema.getTargetNamespace(), ""};
    schema.setSelectionNamespaces("xmlns:xs='http://www.w3.org/2001/XMLSchema'");
    const xml::Element root = schema.selectExactlyOne("/xs:schema");
    if (root.attributeExists("version")) facts.version = root.getAttribute("version");
    schemas.add(facts.targetNamespace, schema);
    return facts;
}

}  // namespace

ServerRunnerImpl::ServerRunnerImpl(const StartupServices& services,
                                   const posix::file::DiskSpace* diskSpace,
                                   const platform::thread::ThreadFactory* threads,
                                   std::string configSchema, std::string requestSchema,
                                   std::string responseSchema)
    : _services(services),
      _diskSpace(diskSpace),
      _threads(threads),
      _configSchema(std::move(configSchema)),
      _requestSchema(std::move(requestSchema)),
      _responseSchema(std::move(responseSchema)) {}

void ServerRunnerImpl::runServer(const ServerRunSettings& run, platform::event::Event* stopEvent,
                                 TerminateHandler* terminateHandler) {
    Log* log = _services.log;
    log->log(std::string("Initializing server v") + product::Version);
    if (run.serviceMode) log->log("Running server as a service.");
    const ServerSettings settings = ConfigurationFile(log, _services.logSettings)
                                        .load(run.configPath, _configSchema, run.testMode);
    logSystemReport();
    const std::string classifierRoot = prepareClassifierRoot(settings);
    prepareRequestArchive(settings);
    _services.logSettings->setStartupComplete(true);
    serve(run, settings, classifierRoot, stopEvent, terminateHandler);
}

void ServerRunnerImpl::logSystemReport() {
    const char* const volume = "/";
    _services.log->log(
        "System settings:\nTotal physical memory: " + megabytes(_services.memoryStatus->total()) +
        "MB\nAvailable physical memory: " + megabytes(_services.memoryStatus->available()) +
        "MB\nAvailable disk space on " + volume + ": " + megabytes(_diskSpace->available(volume)) +
        "MB\n");
}

std::string ServerRunnerImpl::prepareClassifierRoot(const ServerSettings& settings) {
    const std::string root = settings.classifierRootPath.empty() ? product::DefaultClassifierRoot
                                                                 : settings.classifierRootPath;
    try {
        _services.createFolder->create(root, false);
    } catch (const posix::file::CreateFolderException&) {
        // Reported below as a missing folder.
    }
    if (!_services.existsDir->exists(root)) {
        throw SystemStartupException("The root training path '" + root +
                                     "' doesn't exist. Make sure you create it!");
    }
    _services.createFolder->create(lockFolder(root), false);
    LeftoverSaveFiles(_services.removeFile, _services.log).removeFrom(root);
    return root;
}

std::string ServerRunnerImpl::lockFolder(const std::string& classifierRoot) {
    if (classifierRoot.empty() || classifierRoot.back() == '/') {
        return classifierRoot + LockFolderName;
    }
    return classifierRoot + "/" + LockFolderName;
}

void ServerRunnerImpl::prepareRequestArchive(const ServerSettings& settings) {
    const std::string folder = product::RequestArchiveFolder;
    try {
        _services.createFolder->create(folder, false);
    } catch (const posix::file::CreateFolderException&) {
        // Only an error when requests are to be archived; reported below.
    }
    if (settings.saveRequests && !_services.existsDir->exists(folder)) {
        throw SystemStartupException("The directory '" + folder +
                                     "' doesn't exist. Make sure you create it!");
    }
}

void ServerRunnerImpl::serve(const ServerRunSettings& run, const ServerSettings& settings,
                             const std::string& classifierRoot, platform::event::Event* stopEvent,
                             TerminateHandler* terminateHandler) {
    Log* log = _services.log;
    ClassifierCallbackFactoryImpl callbacks(log);
    classifier::ClassifierFactoryImpl classifiers(&callbacks);
    JobDistributionImpl repository(&classifiers, _services.memoryStatus, _services.loadFile,
                                   _services.saveFile, _services.existsFile, _services.sizeFile,
                                   _services.removeFile, lockFolder(classifierRoot));
    xml::SchemaCache schemas;
    const SchemaFacts request = addSchema(schemas, _requestSchema);
    const SchemaFacts response = addSchema(schemas, _responseSchema);
    ResponseFactoryImpl responses(response.targetNamespace, settings.maxOutput);
    ErrorResponseFactoryImpl errors(response.targetNamespace, response.version);
    EmptyXmlHookFactoryImpl noArchive;
    std::optional<XmlHookFactoryImpl> archive;
    if (settings.saveRequests) {
        archive.emplace(_services.saveFile, log, product::RequestArchiveFolder, _diskSpace);
    }
    const XmlHookFactory* hooks = archive ? static_cast<const XmlHookFactory*>(&*archive)
                                          : static_cast<const XmlHookFactory*>(&noArchive);
    XmlClassifierFactoryImpl requests(&repository, &responses, &errors, hooks, &schemas,
                                      request.targetNamespace, classifierRoot, log);

    ConnectionParams params;
    params.maxInput = widenMaxInput(settings.maxInput);
    params.log = log;
    params.classifierFactory = &requests;
    params.errorResponseFactory = &errors;
    params.terminateHandler = terminateHandler;
    net::server::EventServerLimits limits;
    limits.workers = static_cast<std::uint32_t>(settings.maxClients);
    limits.backlog = static_cast<std::uint32_t>(settings.clientQueueSize);
    const net::server::EventServerAccess access{settings.listenAddress, settings.allowedClients};
    ClassifyServer server(_threads, settings.port, limits, &params, access);
    log->log("Starting server on port " + std::to_string(settings.port) + ".");

    // Ctrl-C and SIGTERM end a console server in order; the service has its own stop control.
    // They are caught before the first client can be served: a client may signal the server
    // as soon as it has an answer.
    std::optional<posix::signals::StopSignals> consoleSignals;
    if (!run.serviceMode && !run.testMode) consoleSignals.emplace(stopEvent, _threads);
    // From the first started thread on, every way out of here stops the server first.
    platform::thread::MethodCaller0<ClassifyServer> stopper(&server, &ClassifyServer::stop);
    server.start();
    if (run.testMode) {
        runSystemTests(server);
    } else {
        log->log("Waiting for connections...");
    }
    stopEvent->wait();
    consoleSignals.reset();
    stopper.disarm();
    server.stop();
    log->log("Closing server.");
}

// Only failed checks and the test lines are logged while the tests run; the server is stopped
// before the count is written.
void ServerRunnerImpl::runSystemTests(ClassifyServer& server) {
    Log* log = _services.log;
    log->log("Running system tests.");
    const int level = _services.logSettings->level();
    _services.logSettings->setLevel(loglevel::Failure);
    const int passed = test::SystemTest(log, server.localPort(), _threads).run();
    server.stop();
    _services.logSettings->setLevel(level);
    log->test(std::to_string(passed) + " tests passed!");
}

}  // namespace norvale::quillmark
