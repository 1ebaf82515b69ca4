#pragma once

// The request executor of the tests (never linked into the product): XmlClassifier over the
// test repository, validating against the real request schema or a lax one.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "classifier/ClassifierFactoryImpl.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/RepositoryTestSupport.h"
#include "server/ResponseFactoryImpl.h"
#include "server/XmlClassifier.h"
#include "server/XmlHook.h"
#include "testing/RecordingLog.h"
#include "testing/Requests.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"
#include "xml/XmlTestSupport.h"

namespace norvale::quillmark::test {

using namespace testing;

// Keeps the requests its hooks are given, from any thread.
struct RecordingHooks {
    struct Hook : XmlHook {
        explicit Hook(RecordingHooks* hooks) : hooks(hooks) {}
        void save(const std::string& request) override {
            std::lock_guard lock(hooks->mutex);
            hooks->saved.push_back(request);
        }
        RecordingHooks* hooks;
    };
    std::mutex mutex;
    std::vector<std::string> saved;  // guarded by mutex
};

// The unescaped message of an error document.
inline std::string messageOf(const std::string& document) {
    const std::size_t start = document.find("\">", document.find("<status "));
    const std::size_t end = document.rfind("\t</status>");
    if (start == std::string::npos || end == std::string::npos || end < start) return "";
    std::string message = document.substr(start + 2, end - start - 2);
    for (const auto& [entity, plain] :
         {std::pair{"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
        for (std::size_t at = 0; (at = message.find(entity, at)) != std::string::npos; ++at) {
            message.replace(at, std::strlen(entity), plain);
        }
    }
    return message;
}

// Calls of the classifier or class `name`, on the text `textId`.
inline std::string classify(const std::string& id, const std::string& name,
                            const std::string& textId = "t") {
    return call("classify", id, "classifierName=\"" + name + "\" textId=\"" + textId + "\"");
}
inline std::string train(const std::string& id, const std::string& name,
                         const std::string& textId = "t") {
    return call("train", id, "className=\"" + name + "\" textId=\"" + textId + "\"");
}
inline std::string getInformation(const std::string& id, const std::string& name) {
    return call("getInformation", id, "classifierName=\"" + name + "\"");
}
inline std::string addClass(const std::string& id, const std::string& name) {
    return call("addClass", id, "className=\"" + name + "\"");
}

inline const classifier::ClassifierFactoryImpl RealClassifiers{nullptr};

// Request executors over the test repository; every run uses a new executor, so runs on several
// threads at once are fine. The fake classifiers unless told to use the real ones.
class ExecutorFixture : public ::testing::Test {
protected:
    explicit ExecutorFixture(const classifier::ClassifierFactory* classifiers = nullptr)
        : files(classifiers) {
        xml::test::addSchema(_strict, "server/RequestSchema.xsd");
        // Accepts any content below the root, so that requests the real schema refuses
        // (unknown calls, repeated sequences, unsafe names) reach execution.
        xml::Document schema;
        schema.loadFromMemory(
            "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" targetNamespace=\"" +
            RequestNamespace +
            "\" elementFormDefault=\"qualified\"><xs:element name=\"quillmark\"><xs:complexType>"
            "<xs:sequence><xs:any processContents=\"skip\" minOccurs=\"0\" "
            "maxOccurs=\"unbounded\"/>"
            "</xs:sequence><xs:anyAttribute processContents=\"skip\"/></xs:complexType>"
            "</xs:element></xs:schema>");
        _lax.add(RequestNamespace, schema);
    }

    std::string process(const std::string& document, bool lax = false,
                        JobDistribution* classifiers = nullptr) {
        xml::SchemaCache* schemas = lax ? &_lax : &_strict;
        XmlClassifier executor(classifiers != nullptr ? classifiers : files.repository.get(),
                               &_responses, &_errors,
                               std::make_unique<RecordingHooks::Hook>(&hooks), schemas,
                               XmlClassifier::checksFor(schemas, RequestNamespace),
                               RequestNamespace, files.root, &log, &files.metrics);
        return executor.process(document);
    }
    std::string run(const std::string& body, bool lax = false) {
        return process(request(body), lax);
    }
    std::string information(const std::string& name = "Spam",
                            JobDistribution* classifiers = nullptr) {
        return process(informationRequest(name), false, classifiers);
    }

    // Spam with the classes bad and good, one text trained into each.
    std::string createSpam() {
        const std::string response =
            run(texts(text("g", "cheap pills buy now") + text("h", "meeting agenda for monday")) +
                writeCalls("Spam", call("create", "w1") + addClass("w2", "bad") +
                                       addClass("w3", "good") + train("w4", "bad", "g") +
                                       train("w5", "good", "h")));
        EXPECT_EQ(2000, statusOf(response)) << response;
        return response;
    }

    TempRepository files;
    const std::string& root = files.root;
    RecordingLog log;
    RecordingHooks hooks;
    xml::SchemaCache _strict, _lax;  // the real request schema and the lax one

private:
    ResponseFactoryImpl _responses{"urn:quillmark:test:response"};
    ErrorResponseFactoryImpl _errors{"urn:quillmark:test:response", "1.00"};
};

// The same over the real classifiers.
class StorageFixture : public ExecutorFixture {
protected:
    StorageFixture() : ExecutorFixture(&RealClassifiers) {}
};

}  // namespace norvale::quillmark::test
