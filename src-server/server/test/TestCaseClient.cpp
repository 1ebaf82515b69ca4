#include "server/test/TestCaseClient.h"

#include <utility>

#include "debug/assertion.h"
#include "exceptions/Exception.h"
#include "server/StatusCode.h"
#include "server/test/Api.h"
#include "server/test/RandomBytes.h"
#include "xml/ComInitializer.h"

namespace norvale::quillmark::test {

using std::string;

namespace {

// The checks report through the plain assertion routine, with the case as description.
#define QM_CHECK(condition) QM_ASSERT(condition, _context.c_str())

const char* const EngSwe = "test_engswe";
const char* const StressClassifiers[] = {"stresstest_cls1", "stresstest_cls2"};

// ISO 8859-1 text: "\xe4" is a-umlaut, "\xe5" a-ring.
const char* const SweText = "hej hopp detta \xe4r en text p\xe5 svenska tror jag";
const char* const EngText = "hi this is a text in english I beleive";
const char* const ShortText = "hejsan svejsan";
const char* const SecondText = "detta \xe4r text tv\xe5";

}  // namespace

TestCaseClient::TestCaseClient(const platform::thread::ThreadFactory* threads,
                               net::socket::ClientSocketFactory* sockets, std::uint16_t port,
                               std::string schemaFolder)
    : TestClient(threads, sockets, Host, port, ""),
      _schemaFolder(std::move(schemaFolder)),
      _random(std::random_device{}()) {}

void TestCaseClient::run() {
    try {
        xml::ComInitializer com;
        const ResponseReader reader(_schemaFolder);
        _reader = &reader;
        runCases("1.00");
        runCases("1.01");
        _reader = nullptr;
    } catch (const exceptions::Exception& e) {
        debug::assertion("false", e.what(), __FILE__, __LINE__);
    }
}

void TestCaseClient::runCases(const string& version) {
    badRequests(version);
    sharedClassifiers(version);
    functional(version);
    furtherBadRequests(version);
}

void TestCaseClient::badRequests(const string& version) {
    {
        ReadCallsApi api(&_encoder, version);
        expectBadRequest(send("no texts and no calls", version, api.getRequest()));
    }
    {
        ReadCallsApi api(&_encoder, version);
        api.addText("textId1", "hejsan");
        expectBadRequest(send("a text and no calls", version, api.getRequest()));
    }
    {
        ReadCallsApi api(&_encoder, version);
        api.classify("call_1", EngSwe, "textId1");
        expectBadRequest(send("a classify call and no texts", version, api.getRequest()));
    }
    {
        ReadCallsApi api(&_encoder, version);
        api.addText("textId1", "hejsan");
        api.classify("call_1", "classifierName", "textId1");
        const ParsedResponse r =
            send("a classifier that does not exist", version, api.getRequest());
        expectBadRequest(r);
        QM_CHECK(r.errorMessage.find("could not be found") != string::npos);
        QM_CHECK(r.errorMessage.find("classifierName") != string::npos);
    }
}

// Every client works on the same two classifiers at once, so creates, trainings and removes
// collide and may fail; only the protocol version of each answer is checked.
void TestCaseClient::sharedClassifiers(const string& version) {
    const string name = StressClassifiers[std::uniform_int_distribution<int>(0, 1)(_random)];
    {
        WriteCallsApi api(&_encoder, version, name);
        api.create("call_1");
        expectVersion(send("create " + name, version, api.getRequest()), version);
    }
    {
        WriteCallsApi api(&_encoder, version, name);
        api.addText("numbers", "0 1 2 3 4 5 6 7 8 9");
        api.addText("letters", "a b c d e f g h i j");
        api.addClass("call_1", "numbers");
        api.addClass("call_2", "letters");
        api.train("call_3", "numbers", "numbers");
        api.train("call_4", "letters", "letters");
        expectVersion(send("train " + name, version, api.getRequest()), version);
    }
    {
        ReadCallsApi api(&_encoder, version);
        api.addText("textId1", "6 1 2 3");
        api.addText("textId2", "e j k a");
        api.classify("call_1", name, "textId1");
        api.classify("call_2", name, "textId2");
        expectVersion(send("classify with " + name, version, api.getRequest()), version);
    }
    for (const char* stress : StressClassifiers) {
        WriteCallsApi api(&_encoder, version, stress);
        api.remove("call_1");
        expectVersion(send(string("remove ") + stress, version, api.getRequest()), version);
    }
}

void TestCaseClient::functional(const string& version) {
    {
        // Fails with "already exists" once an earlier run or client has created it.
        WriteCallsApi api(&_encoder, version, EngSwe);
        api.addText("sweText", SweText);
        api.addText("engText", EngText);
        api.create("call_1");
        api.addClass("call_2", "swe");
        api.addClass("call_3", "eng");
        api.train("call_4", "swe", "sweText");
        api.train("call_5", "eng", "engText");
        expectVersion(send("create and train test_engswe", version, api.getRequest()), version);
    }
    {
        ReadCallsApi api(&_encoder, version);
        api.addText("textId1", ShortText);
        api.classify("call_1", EngSwe, "textId1");
        expectSuccess(send("one classify call", version, api.getRequest()), version, 1);
    }
    {
        ReadCallsApi api(&_encoder, version);
        api.addText("textId1", ShortText);
        api.addText("textId2", SecondText);
        api.classify("call_1", EngSwe, "textId1");
        api.classify("call_2", EngSwe, "textId2");
        expectSuccess(send("two classify calls", version, api.getRequest()), version, 2);
    }
}

void TestCaseClient::furtherBadRequests(const string& version) {
    {
        ReadCallsApi api(&_encoder, "2.00");
        api.addText("textId1", ShortText);
        api.classify("call_1", EngSwe, "textId1");
        expectBadRequest(send("version 2.00", version, api.getRequest()));
    }
    {
        ReadCallsApi api(&_encoder, version);
        api.classify("call_1", EngSwe, "textId1");
        expectBadRequest(
            send("a classify call on test_engswe and no texts", version, api.getRequest()));
    }
    {
        ReadCallsApi api(&_encoder, version);
        api.addText("textId1", ShortText);
        expectBadRequest(send("a text and no calls", version, api.getRequest()));
    }
    {
        // Two texts under one id.
        ReadCallsApi api(&_encoder, version);
        api.addText("textId1", ShortText);
        api.addText("textId1", ShortText);
        api.classify("call_1", EngSwe, "textId1");
        expectBadRequest(send("two texts with one id", version, api.getRequest()));
    }
    {
        // The second call names a text the request does not hold.
        ReadCallsApi api(&_encoder, version);
        api.addText("textId1", ShortText);
        api.classify("call_1", EngSwe, "textId1");
        api.classify("call_2", EngSwe, "textId2");
        expectBadRequest(send("a classify call on a missing text", version, api.getRequest()));
    }
    expectBadRequest(send("1000 random bytes", version, randomBytes(_random, 1000)));
}

ParsedResponse TestCaseClient::send(const string& name, const string& version,
                                    const string& request) {
    setData(request);
    TestClient::run();
    _context = "Case: " + name + ", protocol version " + version + ".\nAnswer: " + response();
    return _reader->read(response());
}

void TestCaseClient::expectBadRequest(const ParsedResponse& r) {
    QM_CHECK(!r.success);
    QM_CHECK(r.code == statusCode::BAD_REQUEST);
    QM_CHECK(!r.errorMessage.empty());
    QM_CHECK(r.responses.empty());
}

void TestCaseClient::expectSuccess(const ParsedResponse& r, const string& version,
                                   std::size_t calls) {
    QM_CHECK(r.success);
    QM_CHECK(r.code == statusCode::OK);
    if (calls == 1) {
        QM_CHECK(r.responses.size() == 1);
    } else {
        QM_CHECK(r.responses.size() == 2);
    }
    QM_CHECK(r.version == version);
}

// A successful answer echoes the request's version; an error document carries the version of
// the response schema instead, whatever the request declared.
void TestCaseClient::expectVersion(const ParsedResponse& r, const string& version) {
    if (r.success) {
        QM_CHECK(r.version == version);
    } else {
        const string& errorVersion = _reader->schemaVersion();
        QM_CHECK(r.version == errorVersion);
    }
}

}  // namespace norvale::quillmark::test
