#pragma once

// The in-process server of the tests, benchmarks and fuzz targets: the product's QuillmarkServer
// on the real file services over one classifier folder, validating against the staged schemas
// (in QM_SCHEMA_DIR, defined by the including target), on a port the system picks, without a
// request archive. Both folders must exist. Serves from construction until stop or destruction.

#include <chrono>
#include <cstdint>
#include <string>

#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/LoadFileImpl.h"
#include "io/filesystem/RemoveFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/SizeFileImpl.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "posix/memory/MemoryStatusImpl.h"
#include "server/Log.h"
#include "server/QuillmarkServer.h"

namespace norvale::quillmark::testing {

struct InProcessOptions {
    std::uint32_t maxClients = 64;
    // 0: the server's default bound.
    std::size_t maxConnections = 0;
    // Above 0: replaces both the idle and the request deadline.
    std::chrono::milliseconds readDeadline{0};
    // false: only requests() is used; no worker runs.
    bool serve = true;
    // Not empty: the classifiers are kept in this PostgreSQL database, not in classifierRoot.
    std::string postgresConnection = "";
};

class InProcessServer {
public:
    InProcessServer(const std::string& classifierRoot, const std::string& lockFolder, Log* log,
                    const InProcessOptions& options = {})
        : _server(
              log, &_metrics,
              {&_memory, &_loadFile, &_saveFile, &_existsFile, &_sizeFile, &_removeFile, nullptr},
              &_threads, settings(classifierRoot, lockFolder, options)) {
        if (options.serve) _server.start();
    }
    ~InProcessServer() { _server.stop(); }

    std::uint16_t port() const { return _server.localPort(); }
    void stop() { _server.stop(); }
    const StringClassifierFactory* requests() const { return _server.requests(); }
    const std::string& requestNamespace() const { return _server.requestNamespace(); }

private:
    static QuillmarkServerSettings settings(const std::string& classifierRoot,
                                            const std::string& lockFolder,
                                            const InProcessOptions& options) {
        QuillmarkServerSettings settings;
        settings.classifierRoot = classifierRoot;
        settings.lockFolder = lockFolder;
        settings.postgresConnection = options.postgresConnection;
        const std::string schemas = std::string(QM_SCHEMA_DIR) + "/server/";
        settings.requestSchemaPath = schemas + "RequestSchema.xsd";
        settings.responseSchemaPath = schemas + "ResponseSchema.xsd";
        settings.limits = {options.maxClients, 128, options.maxConnections};
        settings.connection.maxInput = widenMaxInput(-1);
        if (options.readDeadline.count() > 0) {
            settings.connection.idleTimeout = settings.connection.requestTimeout =
                options.readDeadline;
        }
        return settings;
    }

    platform::memory::MemoryStatusImpl _memory;
    io::filesystem::LoadFileImpl _loadFile;
    io::filesystem::SaveFileImpl _saveFile;
    io::filesystem::ExistsFileImpl _existsFile;
    io::filesystem::SizeFileImpl _sizeFile;
    io::filesystem::RemoveFileImpl _removeFile;
    platform::thread::OsInfoImpl _os;
    platform::thread::ThreadFactoryImpl _threads{&_os};
    Metrics _metrics;
    QuillmarkServer _server;
};

}  // namespace norvale::quillmark::testing
