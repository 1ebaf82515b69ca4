#include "server/ServerRunnerImpl.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <utility>

#include "classifier/ClassifierFactoryImpl.h"
#include "platform/errorresources/SystemErrorText.h"
#include "platform/thread/MethodCaller0.h"
#include "posix/signals/StopSignals.h"
#include "server/ClassifierCallbackFactoryImpl.h"
#include "server/ClassifierImport.h"
#include "server/ConfigurationFile.h"
#include "server/ConnectionParams.h"
#include "server/LeftoverSaveFiles.h"
#include "server/LogLevel.h"
#include "server/PostgresClassifierStore.h"
#include "server/Product.h"
#include "server/QuillmarkServer.h"
#include "server/test/SelfTestRun.h"

namespace norvale::quillmark {

namespace {

constexpr std::uint64_t BytesPerMegabyte = 1000000;

// The folder of the named locks that guard the classifier files; every server that shares the
// classifier root shares it. Its name cannot be a classifier's, which never starts with '.'.
const char* const LockFolderName = ".locks";

std::string megabytes(std::uint64_t bytes) {
    return std::to_string(bytes / BytesPerMegabyte);
}

// Holds an exclusive flock on the classifier root while it lives. A second server on the same
// classifier files would keep a cache and journal ends of its own, and each would overwrite or
// tear the other's acknowledged writes. The kernel lets go of the flock of a killed process.
class RootClaim {
public:
    explicit RootClaim(const std::string& root) {
        const std::string path = ServerRunnerImpl::lockFolder(root) + "/server";
        _descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (_descriptor < 0) {
            throw SystemStartupException("Cannot open the lock file '" + path + "'. " +
                                         platform::errorresources::lastSystemErrorText());
        }
        int result;
        do {
            result = ::flock(_descriptor, LOCK_EX | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        if (result != 0) {
            const bool taken = errno == EWOULDBLOCK;
            const std::string reason = platform::errorresources::lastSystemErrorText();
            ::close(_descriptor);
            throw SystemStartupException(taken ? "The classifier root '" + root +
                                                     "' is in use by another server."
                                               : "Cannot lock the file '" + path + "'. " + reason);
        }
    }
    ~RootClaim() { ::close(_descriptor); }
    RootClaim(const RootClaim&) = delete;
    RootClaim& operator=(const RootClaim&) = delete;

private:
    int _descriptor = -1;
};

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
    if (!run.importFolder.empty()) return importClassifiers(settings, run.importFolder);
    logSystemReport();
    const std::string classifierRoot = prepareClassifierRoot(settings);
    // One server at a time on classifier files (servers on a database take no such lock). The
    // self test keeps to classifiers of its own names and may run beside a server.
    std::optional<RootClaim> claim;
    if (settings.postgresConnection.empty() && !run.testMode) claim.emplace(classifierRoot);
    LeftoverSaveFiles(_services.removeFile, _services.log).removeFrom(classifierRoot);
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
    _services.createFolder->createIfPossible(root);
    if (!_services.existsDir->exists(root)) {
        throw SystemStartupException("The root training path '" + root +
                                     "' doesn't exist. Make sure you create it!");
    }
    _services.createFolder->create(lockFolder(root), false);
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
    // Only an error when requests are to be archived.
    _services.createFolder->createIfPossible(folder);
    if (settings.saveRequests && !_services.existsDir->exists(folder)) {
        throw SystemStartupException("The directory '" + folder +
                                     "' doesn't exist. Make sure you create it!");
    }
}

void ServerRunnerImpl::serve(const ServerRunSettings& run, const ServerSettings& settings,
                             const std::string& classifierRoot, platform::event::Event* stopEvent,
                             TerminateHandler* terminateHandler) {
    Log* log = _services.log;
    QuillmarkServerFiles files;
    files.memoryStatus = _services.memoryStatus;
    files.loadFile = _services.loadFile;
    files.saveFile = _services.saveFile;
    files.existsFile = _services.existsFile;
    files.sizeFile = _services.sizeFile;
    files.removeFile = _services.removeFile;
    files.diskSpace = _diskSpace;
    files.createFolder = _services.createFolder;
    QuillmarkServerSettings wiring;
    wiring.classifierRoot = classifierRoot;
    wiring.lockFolder = lockFolder(classifierRoot);
    wiring.postgresConnection = settings.postgresConnection;
    wiring.requestSchemaPath = _requestSchema;
    wiring.responseSchemaPath = _responseSchema;
    if (settings.saveRequests) wiring.archiveFolder = product::RequestArchiveFolder;
    wiring.port = settings.port;
    wiring.limits.workers = static_cast<std::uint32_t>(settings.maxClients);
    wiring.limits.backlog = static_cast<std::uint32_t>(settings.clientQueueSize);
    wiring.access = {settings.listenAddress, settings.allowedClients};
    wiring.maxOutput = settings.maxOutput;
    wiring.metricsPort = settings.metricsPort;
    wiring.metricsAddress = settings.metricsAddress;
    wiring.connection.maxInput = widenMaxInput(settings.maxInput);
    wiring.connection.terminateHandler = terminateHandler;
    QuillmarkServer server(log, _services.metrics, files, _threads, wiring);
    log->log("Starting server on port " + std::to_string(server.localPort()) + ".");
    if (settings.metricsPort) {
        log->log("Serving metrics on " + settings.metricsAddress + " port " +
                 std::to_string(server.metricsPort()) + ".");
    }

    // Ctrl-C and SIGTERM end a console server in order; the service has its own stop control.
    // They are caught before the first client can be served: a client may signal the server
    // as soon as it has an answer.
    std::optional<posix::signals::StopSignals> consoleSignals;
    if (!run.serviceMode && !run.testMode) consoleSignals.emplace(stopEvent, _threads);
    // From the first started thread on, every way out of here stops the server first.
    platform::thread::MethodCaller0<QuillmarkServer> stopper(&server, &QuillmarkServer::stop);
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

void ServerRunnerImpl::importClassifiers(const ServerSettings& settings,
                                         const std::string& folder) {
    if (settings.postgresConnection.empty()) {
        throw SystemStartupException(
            "Importing classifiers needs a postgresConnection in the "
            "configuration: the database they are copied into.");
    }
    PostgresClassifierStore store(settings.postgresConnection);
    ClassifierCallbackFactoryImpl callbacks(_services.log);
    const classifier::ClassifierFactoryImpl classifiers(&callbacks);
    const std::size_t imported =
        ClassifierImport(&store, &classifiers, _services.loadFile, _services.log).run(folder);
    _services.log->log("Imported " + std::to_string(imported) + " classifiers from '" + folder +
                       "'.");
}

// Only failed checks and the test lines are logged while the tests run; the server is stopped
// before the count is written.
void ServerRunnerImpl::runSystemTests(QuillmarkServer& server) {
    Log* log = _services.log;
    log->log("Running system tests.");
    const int level = _services.logSettings->level();
    _services.logSettings->setLevel(loglevel::Failure);
    const int passed = test::SelfTestRun(log, server.localPort(), _threads).run();
    server.stop();
    _services.logSettings->setLevel(level);
    log->test(std::to_string(passed) + " tests passed!");
}

}  // namespace norvale::quillmark
