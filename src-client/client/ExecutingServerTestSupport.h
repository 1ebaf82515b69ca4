#pragma once

// Servers for the client's tests. ExecutingServer: the server's request execution behind the
// fake server's socket, in the test process: the real repository
// over classifier files in a temporary folder, the schemas of the build, and XmlClassifier
// answering each request that the fake server's thread reads from a connection.

#include <filesystem>
#include <memory>
#include <string>

#include "classifier/ClassifierFactoryImpl.h"
#include "client/ClientTestSupport.h"
#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/LoadFileImpl.h"
#include "io/filesystem/RemoveFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/SizeFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "posix/memory/MemoryStatusImpl.h"
#include "server/ClassifierCallbackFactoryImpl.h"
#include "server/EmptyXmlHookFactoryImpl.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/JobDistributionImpl.h"
#include "server/RecordingLog.h"
#include "server/RequestServerTestSupport.h"
#include "server/ResponseFactoryImpl.h"
#include "server/XmlClassifierFactoryImpl.h"
#include "xml/Document.h"
#include "xml/Element.h"
#include "xml/SchemaCache.h"

namespace norvale::quillmark::client::test {

class ExecutingServer {
public:
    ExecutingServer() {
        std::filesystem::create_directories(_temp.path("classifiers"));
        std::filesystem::create_directories(_temp.path("locks"));
        _server = std::make_unique<FakeServer>(
            [this](const std::string& request) { return _requests.create()->process(request); });
        _port = _server->port();
    }

    // Stays the same after stop.
    std::uint16_t port() const { return _port; }
    // Stops listening: later connections are refused.
    void stop() { _server.reset(); }

private:
    struct Schema {
        std::string targetNamespace;
        std::string version;
    };

    static Schema load(xml::SchemaCache& cache, const std::string& file) {
        xml::Document schema;
        schema.loadFromFile(schemaPath(file));
        Schema result{schema.getTargetNamespace(),
                      schema.selectExactlyOne("/*").getAttribute("version")};
        cache.add(result.targetNamespace, schema);
        return result;
    }

    io::filesystem::test::TempFolder _temp;
    testing::RecordingLog _log;
    ClassifierCallbackFactoryImpl _callbacks{&_log};
    classifier::ClassifierFactoryImpl _engines{&_callbacks};
    platform::memory::MemoryStatusImpl _memory;
    io::filesystem::LoadFileImpl _loadFile;
    io::filesystem::SaveFileImpl _saveFile;
    io::filesystem::ExistsFileImpl _existsFile;
    io::filesystem::SizeFileImpl _sizeFile;
    io::filesystem::RemoveFileImpl _removeFile;
    JobDistributionImpl _repository{&_engines,    &_memory,   &_loadFile,   &_saveFile,
                                    &_existsFile, &_sizeFile, &_removeFile, _temp.path("locks")};
    xml::SchemaCache _schemas;
    const Schema _request = load(_schemas, "server/RequestSchema.xsd");
    const Schema _response = load(_schemas, "server/ResponseSchema.xsd");
    ResponseFactoryImpl _responses{_response.targetNamespace};
    ErrorResponseFactoryImpl _errors{_response.targetNamespace, _response.version};
    EmptyXmlHookFactoryImpl _hooks;
    XmlClassifierFactoryImpl _requests{&_repository,
                                       &_responses,
                                       &_errors,
                                       &_hooks,
                                       &_schemas,
                                       _request.targetNamespace,
                                       _temp.path("classifiers"),
                                       &_log};
    std::unique_ptr<FakeServer> _server;
    std::uint16_t _port = 0;
};

// The whole server road in this process: ThreadServer with ClassifyConnection (the real
// connection: input read to the client's end, response, own sending side shut down) over the
// same request execution.
class ConnectionServer {
public:
    ConnectionServer() {
        std::filesystem::create_directories(_temp.path("classifiers"));
        std::filesystem::create_directories(_temp.path("locks"));
        _server = std::make_unique<testing::RequestServer>(_temp.path("classifiers"),
                                                           _temp.path("locks"), &_log);
        _port = _server->port();
    }

    // Stays the same after stop.
    std::uint16_t port() const { return _port; }
    void stop() { _server.reset(); }

private:
    io::filesystem::test::TempFolder _temp;
    testing::RecordingLog _log;
    std::unique_ptr<testing::RequestServer> _server;
    std::uint16_t _port = 0;
};

}  // namespace norvale::quillmark::client::test
