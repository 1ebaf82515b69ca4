// libFuzzer target for request execution: every input is one request document given to
// XmlClassifier::process, wired as the server wires it (classifier factory with the logging
// callback, the repository on the real file services, the staged request schema), over a
// classifier folder in a temporary directory. Every answer must be a response or error document
// that loads and validates against the staged response schema, and a request read in one pass
// (RequestReader, which skips the validator for the usual shape) must be valid and read the same
// from its tree. Crashes, sanitizer reports, exceptions escaping process, failed internal
// checks, invalid answers, wrongly admitted requests and requests read otherwise are the
// findings.
//
// The classifier folder is wiped, together with the repository that caches its files, every
// ResetInterval inputs, so that what the inputs create stays bounded; it then holds one trained
// classifier "demo" with the classes "spam" and "ham" for read calls to find.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "server/Log.h"
#include "server/RequestReader.h"
#include "testing/InProcessServer.h"
#include "xml/ComInitializer.h"
#include "xml/Document.h"
#include "xml/Element.h"
#include "xml/SchemaCache.h"
#include "xml/XMLExceptions.h"

namespace {

using namespace norvale::quillmark;

constexpr unsigned ResetInterval = 256;

// Its spam text holds a word of mostly two-byte characters longer than a feature and, in Base64,
// a word with a byte that is no UTF-8, so that keyword answers can carry such bytes.
const char* const DemoBody =
    "<texts><text id=\"s\">cheap pills buy now, win money x\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4"
    "\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4</text>"
    "<textBase64 id=\"b\">Y2hlYXD/cGlsbHMgeAF5</textBase64>"
    "<text id=\"h\">meeting notes for the review on monday</text></texts>"
    "<writeCalls classifierName=\"demo\"><create id=\"1\"/>"
    "<addClass id=\"2\" className=\"spam\"/><addClass id=\"3\" className=\"ham\"/>"
    "<train id=\"4\" className=\"spam\" textId=\"s\"/>"
    "<train id=\"5\" className=\"spam\" textId=\"b\"/>"
    "<train id=\"6\" className=\"ham\" textId=\"h\"/></writeCalls>";

// Keeps nothing; a failed internal check reported by the engine is a finding.
class FuzzLog : public Log {
public:
    using Log::assertionFailed, Log::error, Log::log, Log::test;
    void log(const std::string&) override {}
    void error(const std::string&) override {}
    void test(const std::string&) override {}
    void assertionFailed(const std::string& expression, const std::string& description,
                         const std::string& file, int line) override {
        std::fprintf(stderr, "Failed check %s (%s) at %s:%d\n", expression.c_str(),
                     description.c_str(), file.c_str(), line);
        __builtin_trap();
    }
};

// A folder under TMPDIR (or /tmp) with the classifier files and the named locks; removed at exit.
class ScratchFolder {
public:
    ScratchFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") +
                              "/XmlClassifierFuzz.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) __builtin_trap();
        root = pattern;
        classifiers = root + "/classifiers";
        locks = root + "/locks";
        std::filesystem::create_directories(locks);
        wipeClassifiers();
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    void wipeClassifiers() const {
        std::filesystem::remove_all(classifiers);
        std::filesystem::create_directories(classifiers);
    }

    std::string root;
    std::string classifiers;
    std::string locks;
};

// A staged schema: the response schema, against which every answer must validate, or the
// request schema.
struct StagedSchema {
    explicit StagedSchema(const std::string& file) {
        xml::Document schema;
        schema.loadFromFile(std::string(QM_SCHEMA_DIR) + "/server/" + file);
        cache.add(schema.getTargetNamespace(), schema);
    }
    xml::SchemaCache cache;
};

// The server's own wiring, of which only request execution runs.
struct Harness {
    xml::ComInitializer com;
    FuzzLog log;
    ScratchFolder folder;
    StagedSchema responses{"ResponseSchema.xsd"};
    StagedSchema requests{"RequestSchema.xsd"};
    std::optional<testing::InProcessServer> server;
    unsigned inputs = 0;
};

Harness& harness() {
    static Harness instance;
    return instance;
}

void checkAnswer(const xml::SchemaCache& responses, const std::string& request,
                 const std::string& answer) {
    try {
        xml::Document parsed(&responses);
        parsed.loadFromMemory(answer);
        parsed.validate();
    } catch (const xml::XMLException& e) {
        std::fprintf(stderr, "Invalid answer (%s)\nto request:\n%s\nanswer:\n%s\n", e.what(),
                     request.c_str(), answer.c_str());
        __builtin_trap();
    }
}

void fail(const char* finding, const std::string& request) {
    std::fprintf(stderr, "%s:\n%s\n", finding, request.c_str());
    __builtin_trap();
}

// A request read in one pass skips the validator, so the validator must accept it in full
// (text id rules included), and the request must read the same from its tree.
void checkShape(const xml::SchemaCache& requests, const std::string& requestNamespace,
                const std::string& request) {
    const std::optional<Request> read = RequestReader::readUsual(request, requestNamespace);
    if (!read) return;
    xml::Document parsed(&requests);
    try {
        parsed.loadFromMemory(request);
        parsed.validate();
    } catch (const xml::XMLException& e) {
        std::fprintf(stderr, "Read an invalid request (%s):\n%s\n", e.what(), request.c_str());
        __builtin_trap();
    }
    const xml::Element root = parsed.rootElement();
    if (!(RequestReader::fromTree(root, RequestTexts(root, requestNamespace), requestNamespace) ==
          *read)) {
        fail("Read a request otherwise than its tree", request);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Harness& h = harness();
    if (h.inputs++ % ResetInterval == 0) {
        h.server.reset();
        h.folder.wipeClassifiers();
        h.server.emplace(h.folder.classifiers, h.folder.locks, &h.log,
                         testing::InProcessOptions{1, 0, {}, false});
        const std::string demo = "<?xml version=\"1.0\"?><quillmark xmlns=\"" +
                                 h.server->requestNamespace() + "\" version=\"1.00\">" + DemoBody +
                                 "</quillmark>";
        const std::string answer = h.server->requests()->create()->process(demo);
        if (answer.find("statusCode=\"2000\"") == std::string::npos) {
            std::fprintf(stderr, "Setting up the demo classifier failed:\n%s\n", answer.c_str());
            __builtin_trap();
        }
    }
    const std::string request(reinterpret_cast<const char*>(data), size);
    const std::string answer = h.server->requests()->create()->process(request);
    checkAnswer(h.responses.cache, request, answer);
    checkShape(h.requests.cache, h.server->requestNamespace(), request);
    return 0;
}
