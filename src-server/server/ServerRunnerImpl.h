#pragma once

// The server proper, wired in its fixed order: configuration, folders, request processing, the
// network server; then serving until the stop event is set, or in test mode the system tests
// against the running server. Everything it builds lives inside runServer and is gone when it
// returns. Runs on the main thread (the service thread in service mode). With an import folder it
// copies that folder's classifiers into the configured database instead, and returns.

#include <string>

#include "platform/thread/ThreadFactory.h"
#include "posix/file/DiskSpace.h"
#include "server/ConnectionParams.h"
#include "server/QuillmarkServer.h"
#include "server/ServerRunner.h"
#include "server/ServerSettings.h"
#include "server/Startup.h"

namespace norvale::quillmark {

class ServerRunnerImpl : public ServerRunner {
public:
    // The schema paths are the configuration, request and response schema files. Nothing is
    // owned; everything must outlive the runner.
    ServerRunnerImpl(const StartupServices& services, const posix::file::DiskSpace* diskSpace,
                     const platform::thread::ThreadFactory* threads, std::string configSchema,
                     std::string requestSchema, std::string responseSchema);

    void runServer(const ServerRunSettings& run, platform::event::Event* stopEvent,
                   TerminateHandler* terminateHandler) override;

    // The folder of the classifier files' named locks, inside the classifier root.
    static std::string lockFolder(const std::string& classifierRoot);

private:
    void logSystemReport();
    std::string prepareClassifierRoot(const ServerSettings& settings);
    void prepareRequestArchive(const ServerSettings& settings);
    void serve(const ServerRunSettings& run, const ServerSettings& settings,
               const std::string& classifierRoot, platform::event::Event* stopEvent,
               TerminateHandler* terminateHandler);
    void runSystemTests(QuillmarkServer& server);
    // Copies the classifier files of folder into the configured database.
    void importClassifiers(const ServerSettings& settings, const std::string& folder);

    StartupServices _services;
    const posix::file::DiskSpace* _diskSpace;
    const platform::thread::ThreadFactory* _threads;
    const std::string _configSchema;
    const std::string _requestSchema;
    const std::string _responseSchema;
};

}  // namespace norvale::quillmark
