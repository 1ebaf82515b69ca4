#pragma once

// Fakes and helpers shared by the request execution tests (never linked into the product).

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "classifier/ClassifierFactoryImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/LoadFileImpl.h"
#include "io/filesystem/RemoveFileImpl.h"
#include "io/filesystem/SizeFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/JobDistributionImpl.h"
#include "server/Log.h"
#include "server/LogTestSupport.h"
#include "testing/RecordingLog.h"
#include "testing/Requests.h"
#include "server/ResponseFactoryImpl.h"
#include "server/XmlClassifier.h"
#include "server/XmlHook.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"
#include "xml/XmlTestSupport.h"

namespace norvale::quillmark::test {

inline const std::string ResponseNamespace = "urn:quillmark:test:response";
inline const std::string ErrorVersion = "1.00";

using testing::RecordingLog;
using testing::SwitchableSaveFile;
using testing::call;
using testing::readCalls;
using testing::request;
using testing::statusOf;
using testing::text;
using testing::texts;
using testing::writeCalls;

// Every hook it makes appends the requests it is given to one list.
class RecordingHookFactory : public XmlHookFactory {
public:
    std::unique_ptr<XmlHook> create() const override { return std::make_unique<Hook>(this); }

    std::vector<std::string> saved() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _saved;
    }

private:
    class Hook : public XmlHook {
    public:
        explicit Hook(const RecordingHookFactory* factory) : _factory(factory) {}
        void save(const std::string& request) override {
            std::lock_guard<std::mutex> lock(_factory->_mutex);
            _factory->_saved.push_back(request);
        }

    private:
        const RecordingHookFactory* _factory;
    };

    mutable std::mutex _mutex;
    mutable std::vector<std::string> _saved;
};

// Adds the request schema accepting any content below the root, so that requests the real schema
// refuses (unknown calls, repeated sequences, unsafe names) reach execution.
inline void addLaxSchema(xml::SchemaCache& cache) {
    xml::Document schema;
    schema.loadFromMemory(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" targetNamespace=\"" +
        xml::test::RequestNamespace +
        "\" elementFormDefault=\"qualified\"><xs:element name=\"quillmark\"><xs:complexType>"
        "<xs:sequence><xs:any processContents=\"skip\" minOccurs=\"0\" maxOccurs=\"unbounded\"/>"
        "</xs:sequence><xs:anyAttribute processContents=\"skip\"/></xs:complexType></xs:element></xs:schema>");
    cache.add(xml::test::RequestNamespace, schema);
}

// The unescaped message of an error document.
inline std::string messageOf(const std::string& document) {
    const std::size_t start = document.find("\">", document.find("<status "));
    const std::size_t end = document.rfind("\t</status>");
    if (start == std::string::npos || end == std::string::npos || end < start) return "";
    static const std::pair<std::string_view, char> Entities[] = {
        {"&quot;", '"'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}};
    std::string message;
    for (std::size_t at = start + 2; at < end;) {
        const auto entity = std::find_if(std::begin(Entities), std::end(Entities), [&](const auto& e) {
            return document.compare(at, e.first.size(), e.first) == 0;
        });
        if (entity == std::end(Entities)) {
            message += document[at++];
        } else {
            message += entity->second;
            at += entity->first.size();
        }
    }
    return message;
}

inline const std::string ReadCallsTail =
    "\n\nOne of the read calls failed. Therefore the call sequence was not completed. Please fix "
    "the error and try again.\n";
inline const std::string WriteCallsTail =
    "\n\nOne of the write calls failed. Therefore any previous call in the request was rollbacked "
    "to avoid leaving the classifier in an undefined state (transactional behaviour). Please fix "
    "the error and try again.\n";

// Request executors over a real repository with its files in a temporary folder; every run()
// uses a new executor, so runs on several threads at once are fine.
class StorageFixture : public ::testing::Test {
protected:
    StorageFixture() {
        std::filesystem::create_directories(root);
        std::filesystem::create_directories(_folder.path("locks"));
        xml::test::addSchema(_strict, "server/RequestSchema.xsd");
        addLaxSchema(_lax);
    }

    std::string run(const std::string& body, bool lax = false) {
        return runOn(repository, body, lax);
    }

    std::string runOn(JobDistribution& classifiers, const std::string& body, bool lax = false) {
        XmlClassifier executor(&classifiers, &_responses, &_errors, _hooks.create(),
                               lax ? &_lax : &_strict, xml::test::RequestNamespace, root, &log,
                               &metrics);
        return executor.process(request(body));
    }

    // The answer to `body` of a server started anew on the same classifier files.
    std::string runAfterRestart(const std::string& body) {
        JobDistributionImpl restarted(&_classifiers, &_memory, &_loadFile, &saveFile,
                                      &_existsFile, &_sizeFile, &_removeFile,
                                      _folder.path("locks"), &metrics);
        return runOn(restarted, body);
    }

    std::string createSpam() {
        const std::string response = run(
            texts(text("g", "cheap pills buy now") + text("h", "meeting agenda for monday")) +
            writeCalls("Spam", call("create", "w1") + call("addClass", "w2", "className=\"bad\"") +
                                   call("addClass", "w3", "className=\"good\"") +
                                   call("train", "w4", "className=\"bad\" textId=\"g\"") +
                                   call("train", "w5", "className=\"good\" textId=\"h\"")));
        EXPECT_EQ(2000, statusOf(response)) << response;
        return response;
    }

    std::string information(const std::string& name = "Spam") {
        return run(readCalls(call("getInformation", "i", "classifierName=\"" + name + "\"")));
    }

    std::string file(const std::string& name) const { return root + "/" + name + ".dat"; }

    io::filesystem::test::TempFolder _folder;
    const std::string root = _folder.path("classifiers");
    RecordingLog log;
    SwitchableSaveFile saveFile;
    testing::FixedMemoryStatus _memory{std::uint64_t(1) << 40};
    io::filesystem::LoadFileImpl _loadFile;
    io::filesystem::ExistsFileImpl _existsFile;
    io::filesystem::SizeFileImpl _sizeFile;
    io::filesystem::RemoveFileImpl _removeFile;
    classifier::ClassifierFactoryImpl _classifiers{nullptr};
    Metrics metrics;
    JobDistributionImpl repository{&_classifiers, &_memory,    &_loadFile,
                                   &saveFile,     &_existsFile, &_sizeFile,
                                   &_removeFile,  _folder.path("locks"), &metrics};
    xml::SchemaCache _strict;
    xml::SchemaCache _lax;
    ResponseFactoryImpl _responses{ResponseNamespace};
    ErrorResponseFactoryImpl _errors{ResponseNamespace, ErrorVersion};
    RecordingHookFactory _hooks;
};

}  // namespace norvale::quillmark::test
