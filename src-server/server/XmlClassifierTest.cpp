// Request execution against a scripted repository: which keys and texts reach the classifiers,
// and how every kind of failure becomes an error document.

#include "server/XmlClassifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <new>

#include "classifier/ClassifierException.h"
#include "io/IOException.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/ResponseFactoryImpl.h"
#include "server/XmlClassifierTestSupport.h"

namespace norvale::quillmark {
namespace {

using namespace test;

// Remembers what the request handed to it; its classes are fixed at construction.
class ScriptedClassifier : public classifier::Classifier {
public:
    explicit ScriptedClassifier(std::vector<std::string> classes, std::vector<std::string>* texts)
        : _classes(std::move(classes)), _texts(texts) {}

    void swap(Classifier& other) override {
        std::swap(_classes, dynamic_cast<ScriptedClassifier&>(other)._classes);
    }
    std::unique_ptr<Classifier> clone() const override {
        return std::make_unique<ScriptedClassifier>(_classes, _texts);
    }
    bool classExists(std::string_view name) const override {
        return std::find(_classes.begin(), _classes.end(), name) != _classes.end();
    }
    void addClass(std::string_view name) override {
        if (classExists(name)) throw classifier::ClassifierException("class exists");
        _classes.emplace_back(name);
    }
    void removeClass(std::string_view) override {}
    void train(std::string_view, std::string_view text) override { _texts->emplace_back(text); }
    void untrain(std::string_view, std::string_view text) override { _texts->emplace_back(text); }
    void compact() override {}
    void classify(std::string_view text, classifier::Classification& out) const override {
        if (_classes.empty()) throw classifier::ClassifierException("no classes");
        _texts->emplace_back(text);
        for (const std::string& name : _classes) out.setProbability(name, 0.5);
        out.setTextCoverage(0.25);
    }
    void classifyKeywords(std::string_view text, classifier::KeywordQueue& queue) const override {
        _texts->emplace_back(text);
        keywordThreshold = queue.threshold();
    }
    std::vector<classifier::ClassInformation> getInformation() const override {
        std::vector<classifier::ClassInformation> information;
        for (const std::string& name : _classes) information.push_back({name, 1, 2});
        return information;
    }
    std::string getTrainingData() const override { return "blob"; }
    void setTrainingData(std::string_view) override {}

    mutable double keywordThreshold = -1.0;

private:
    std::vector<std::string> _classes;
    std::vector<std::string>* _texts;
};

// Hands out classifiers added by the test under their exact key and records every key asked
// for; `failure` (when set) runs at the start of every get.
class ScriptedRepository : public JobDistribution {
public:
    ScriptedClassifier& add(const std::string& key, std::vector<std::string> classes) {
        auto engine = std::make_unique<ScriptedClassifier>(std::move(classes), &texts);
        ScriptedClassifier& result = *engine;
        _classifiers[key] = std::make_shared<ThreadSafeClassifier>(std::move(engine), 0);
        return result;
    }

    std::shared_ptr<ThreadSafeClassifier> create(const std::string& key) override {
        keys.push_back("create " + key);
        add(key, {});
        return _classifiers[key];
    }
    std::shared_ptr<ThreadSafeClassifier> get(const std::string& key) override {
        keys.push_back("get " + key);
        if (failure) failure();
        const auto found = _classifiers.find(key);
        if (found == _classifiers.end()) {
            throw ClassifierNotFoundException("The requested classifier could not be found. '" +
                                              key + "'.");
        }
        return found->second;
    }
    std::uint64_t size(const std::string& key) override {
        keys.push_back("size " + key);
        return 0;
    }
    void save(const std::string& key, std::string_view) override { keys.push_back("save " + key); }
    void append(const std::string& key, ThreadSafeClassifier&, std::string_view) override {
        keys.push_back("append " + key);
    }
    void remove(const std::string& key) override {
        keys.push_back("remove " + key);
        _classifiers.erase(key);
    }

    std::vector<std::string> keys;
    std::vector<std::string> texts;
    std::function<void()> failure;

private:
    std::map<std::string, std::shared_ptr<ThreadSafeClassifier>> _classifiers;
};

class XmlClassifierTest : public ::testing::Test {
protected:
    XmlClassifierTest() {
        const std::string requestNamespace = xml::test::addSchema(_strict, "server/RequestSchema.xsd");
        EXPECT_EQ(xml::test::RequestNamespace, requestNamespace);
        addLaxSchema(_lax);
    }

    // A request executor validating against the real request schema, or against one that lets
    // anything below the root through.
    std::unique_ptr<StringClassifier> make(bool lax = false, const std::string& root = "/srv/qm") {
        return std::make_unique<XmlClassifier>(&repository, &_responses, &_errors,
                                               hooks.create(), lax ? &_lax : &_strict,
                                               xml::test::RequestNamespace, root, &log,
                                               &metrics);
    }

    std::string run(const std::string& body, bool lax = false) {
        return make(lax)->process(request(body));
    }

    ScriptedRepository repository;
    RecordingLog log;
    Metrics metrics;
    RecordingHookFactory hooks;

private:
    xml::SchemaCache _strict;
    xml::SchemaCache _lax;
    ResponseFactoryImpl _responses{ResponseNamespace};
    ErrorResponseFactoryImpl _errors{ResponseNamespace, ErrorVersion};
};

TEST_F(XmlClassifierTest, ReadCallsReachTheClassifierNamedByRootAndNameWithTheirTexts) {
    repository.add("/srv/qm/Spam.dat", {"good", "bad"});
    const std::string body =
        texts(text("a", "first a") + text("a", "second a") + text("both", "plain") +
              "<textBase64 id=\"both\">ZW5jb2RlZA==</textBase64>"
              "<textBase64 id=\"coded\">aGVsbG8gd29ybGQ=</textBase64>") +
        readCalls(call("classify", "c1", "classifierName=\"Spam\" textId=\"a\"") +
                  call("classify", "c2", "classifierName=\"Spam\" textId=\"both\"") +
                  call("classifyKeywords", "c3", "classifierName=\"Spam\" textId=\"coded\"") +
                  call("getInformation", "c4", "classifierName=\"Spam\""));
    // Repeated text ids pass only the lax schema.
    const std::string response = run(body, true);

    EXPECT_EQ(2000, statusOf(response)) << response;
    EXPECT_EQ((std::vector<std::string>{"get /srv/qm/Spam.dat", "get /srv/qm/Spam.dat",
                                        "get /srv/qm/Spam.dat", "get /srv/qm/Spam.dat"}),
              repository.keys);
    // The first of two texts with one id; a plain text before an encoded one of the same id.
    EXPECT_EQ((std::vector<std::string>{"first a", "plain", "hello world"}), repository.texts);
    const std::size_t c1 = response.find("<classify id=\"c1\">");
    const std::size_t c2 = response.find("<classify id=\"c2\">");
    const std::size_t c3 = response.find("<classifyKeywords id=\"c3\">");
    const std::size_t c4 = response.find("<getInformation id=\"c4\">");
    ASSERT_NE(std::string::npos, c4) << response;
    EXPECT_TRUE(c1 < c2 && c2 < c3 && c3 < c4) << response;
    EXPECT_EQ(std::string::npos, response.find("textCoverage")) << "version 1.00";
    EXPECT_TRUE(log.texts("Error").empty());

    // The declared version decides the response's version and its text coverage.
    const std::string newer = make(true)->process(request(body, "1.010"));
    EXPECT_NE(std::string::npos, newer.find(" version=\"1.01\">")) << newer;
    EXPECT_NE(std::string::npos, newer.find("<classification textCoverage=\"0.25\">")) << newer;
}

// Text ids are compared as literal strings: a quote is an ordinary character, and an id written
// as an XPath expression finds no other text. An encoded text must be written without prefix.
TEST_F(XmlClassifierTest, TextIdsAreLiteralStrings) {
    repository.add("/srv/qm/Spam.dat", {"good"});
    const std::string elements = texts(
        text("say &quot;hi&quot;", "quoted") + text("b", "other") +
        "<textBase64 id=\"e\">ZW5j</textBase64><q:textBase64 xmlns:q=\"" +
        xml::test::RequestNamespace + "\" id=\"p\">cHJl</q:textBase64>");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"say &quot;hi&quot;", "quoted"},
        {"e", "enc"},
        {"a&quot;] | //*[@id=&quot;b", "No text with the id 'a\"] | //*[@id=\"b' was found."},
        {"x&quot;] | namespace::* | qm:texts/*[@id=&quot;b",
         "No text with the id 'x\"] | namespace::* | qm:texts/*[@id=\"b' was found."},
        {"p", "Unrecognized text element name q:textBase64. textBase64 was expected."},
    };
    for (const auto& [textId, expected] : cases) {
        repository.texts.clear();
        const std::string response = run(
            elements + readCalls(call("classify", "c", "classifierName=\"Spam\" textId=\"" +
                                                           textId + "\"")),
            true);
        if (statusOf(response) == 2000) {
            EXPECT_EQ(std::vector<std::string>{expected}, repository.texts) << textId;
        } else {
            EXPECT_EQ(4000, statusOf(response)) << textId;
            EXPECT_EQ(0u, messageOf(response).find(expected + "\nCall id: c")) << response;
        }
    }
}

TEST_F(XmlClassifierTest, KeywordThresholdDependsOnTheNumberOfClasses) {
    const std::vector<std::pair<std::vector<std::string>, double>> cases = {
        {{"one"}, 0.0},
        {{"one", "two"}, 1.8 / 3},
        {{"one", "two", "three"}, 0.45},
        {{"a", "b", "c", "d", "e"}, 0.3},
    };
    for (const auto& [classes, threshold] : cases) {
        ScriptedClassifier& engine = repository.add("/srv/qm/k.dat", classes);
        // The request schema lets the newer protocol version through.
        const std::string response = make()->process(request(
            texts(text("t", "some words")) +
                readCalls(call("classifyKeywords", "k", "classifierName=\"k\" textId=\"t\"")),
            "1.01"));
        EXPECT_EQ(2000, statusOf(response)) << response;
        EXPECT_DOUBLE_EQ(threshold, engine.keywordThreshold) << classes.size() << " classes";
    }
}

TEST_F(XmlClassifierTest, FailedReadCallStopsTheSequenceAndNamesTheCall) {
    repository.add("/srv/qm/here.dat", {"good"});
    const std::string body =
        texts(text("t", "text")) +
        readCalls(call("classify", "r1", "classifierName=\"here\" textId=\"t\"") +
                  call("classify", "r2", "classifierName=\"missing\" textId=\"t\"") +
                  call("getInformation", "r3", "classifierName=\"here\""));
    const std::string response = run(body);

    EXPECT_EQ(4000, statusOf(response));
    EXPECT_EQ("The requested classifier could not be found. '/srv/qm/missing.dat'.\nCall id: "
              "r2\nReadCall: classify" + ReadCallsTail,
              messageOf(response));
    EXPECT_EQ(std::string::npos, response.find("r1")) << "no result of the first call";
    EXPECT_EQ((std::vector<std::string>{"get /srv/qm/here.dat", "get /srv/qm/missing.dat"}),
              repository.keys);
    EXPECT_TRUE(log.texts("Error").empty());
    EXPECT_TRUE(log.texts("Log").empty());
}

TEST_F(XmlClassifierTest, FailuresInsideACallGetTheirStatusCode) {
    repository.add("/srv/qm/empty.dat", {});
    const std::string engineFailure =
        run(texts(text("t", "x")) +
            readCalls(call("classify", "e", "classifierName=\"empty\" textId=\"t\"")));
    EXPECT_EQ(4000, statusOf(engineFailure));
    EXPECT_EQ("no classes\nCall id: e\nReadCall: classify" + ReadCallsTail,
              messageOf(engineFailure));
    EXPECT_TRUE(log.texts("Error").empty()) << "engine refusals are not logged";

    repository.failure = [] { throw io::IOException("The disk is gone."); };
    const std::string ioFailure =
        run(readCalls(call("getInformation", "i", "classifierName=\"empty\"")));
    EXPECT_EQ(5000, statusOf(ioFailure));
    EXPECT_EQ("The disk is gone.\nCall id: i\nReadCall: getInformation" + ReadCallsTail,
              messageOf(ioFailure));
    EXPECT_EQ(std::vector<std::string>{"Caught an exception while iterating calls. Method: "
                                       "getInformation. The disk is gone."},
              log.texts("Error"));
}

TEST_F(XmlClassifierTest, FailuresOutsideTheCallFamiliesAreAnsweredOrRethrown) {
    repository.add("/srv/qm/c.dat", {"good"});
    const std::string body = readCalls(call("getInformation", "i", "classifierName=\"c\""));

    repository.failure = [] { throw xml::AtlException(ENOMEM); };
    const std::string atl = run(body);
    EXPECT_EQ(5000, statusOf(atl));
    const std::string atlMessage = "An ATL exception was caught. System error message: " +
                                   std::string(std::strerror(ENOMEM));
    EXPECT_EQ(0u, messageOf(atl).find(atlMessage)) << messageOf(atl);
    ASSERT_EQ(1u, log.texts("Error").size());
    EXPECT_EQ(messageOf(atl), log.texts("Error")[0]);

    repository.failure = [] { throw std::bad_alloc(); };
    EXPECT_THROW(run(body), std::bad_alloc);
    ASSERT_EQ(2u, log.texts("Error").size());
    EXPECT_EQ("A std exception occured when trying to read xml parameters, exception type: " +
                  std::string(std::bad_alloc().what()),
              log.texts("Error")[1]);

    repository.failure = [] { throw 42; };
    EXPECT_THROW(run(body), int);
    ASSERT_EQ(3u, log.texts("Error").size());
    EXPECT_EQ("An unknown ... exception was caught while trying to read xml parameters.",
              log.texts("Error")[2]);
}

TEST_F(XmlClassifierTest, RequestsThatCannotBeReadAreArchivedAndRefused) {
    const std::string invalid = request(readCalls(call("frobnicate", "f")));
    const std::string refused = make()->process(invalid);
    EXPECT_EQ(4000, statusOf(refused));
    const std::string opening =
        "Validation of an request failed, please verify your that your XML is correct."
        "Problems validating the xml document.\r\n";
    EXPECT_EQ(0u, messageOf(refused).find(opening)) << messageOf(refused);
    // The log's copy quotes the request with its control characters escaped: one line.
    ASSERT_EQ(1u, log.texts("Log").size());
    EXPECT_EQ(0u, log.texts("Log")[0].find(
                      "Validation of an request failed, please verify your that your XML is "
                      "correct.Problems validating the xml document.\\r\\nError Code: "));
    EXPECT_EQ(std::string::npos, log.texts("Log")[0].find_first_of("\r\n"));

    const std::string broken = "<quillmark";
    const std::string unreadable = make()->process(broken);
    EXPECT_EQ(4000, statusOf(unreadable));
    EXPECT_EQ(0u, messageOf(unreadable)
                      .find("Caught XMLException exception while trying to read xml parameters. "
                            "Error when loading the XML document from the memory.\n\n"))
        << messageOf(unreadable);

    EXPECT_EQ((std::vector<std::string>{invalid, broken}), hooks.saved());
    EXPECT_TRUE(repository.keys.empty());
    EXPECT_TRUE(log.texts("Error").empty());
}

// Requests the real schema would refuse, each refused on its own: the status and the start of
// the message; failures before the calls are logged as errors, refusals of a call are not.
TEST_F(XmlClassifierTest, RequestsRefusedBeforeOrAtACall) {
    repository.add("/srv/qm/c.dat", {"good"});
    const std::string info = call("getInformation", "a", "classifierName=\"c\"");
    const struct {
        std::string request;
        int status;
        std::string message;
        bool logged;
    } cases[] = {
        {request(readCalls(info), "one"), 5000,
         "An error occurred when executing a classifier query.\n\nError parsing the string [one]",
         true},
        {request(writeCalls("c", call("create", "w"), " maxSize=\"many\"")), 5000,
         "An error occurred when executing a classifier query.\n\nError parsing the string [many]",
         true},
        {request(readCalls(info + call("frobnicate", "f", "classifierName=\"c\""))), 4000,
         "The method frobnicate is not supported in the readCalls sequence.\nCall id: "
         "f\nReadCall: frobnicate" + ReadCallsTail,
         false},
        {request(writeCalls("c", call("addClass", "w1", "className=\"n\"") +
                                     call("train", "w2", "className=\"n\""))),
         4000,
         "The call train has no attribute 'textId'.\nCall id: w2\nWriteCall: train" +
             WriteCallsTail,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        log.clear();
        const std::string answer = make(true)->process(c.request);
        EXPECT_EQ(c.status, statusOf(answer));
        EXPECT_EQ(0u, messageOf(answer).find(c.message)) << messageOf(answer);
        EXPECT_EQ(c.logged ? std::vector<std::string>{messageOf(answer)}
                           : std::vector<std::string>{},
                  log.texts("Error"));
        if (c.logged) {
            EXPECT_TRUE(repository.keys.empty());
        }
    }
}

TEST_F(XmlClassifierTest, OnlyASingleSequenceElementIsExecuted) {
    repository.add("/srv/qm/c.dat", {"good"});
    const std::string twice = run(readCalls(call("getInformation", "a", "classifierName=\"c\"")) +
                                      readCalls(call("getInformation", "b", "classifierName=\"c\"")),
                                  true);
    EXPECT_EQ(5000, statusOf(twice));
    EXPECT_NE(std::string::npos, twice.find(">No calls were found in the response.<")) << twice;
    EXPECT_TRUE(repository.keys.empty());

    const std::string writesTwice =
        run(readCalls(call("getInformation", "a", "classifierName=\"c\"")) +
                writeCalls("c", call("addClass", "x", "className=\"n\"")) +
                writeCalls("c", call("addClass", "y", "className=\"n\"")),
            true);
    EXPECT_EQ(2000, statusOf(writesTwice)) << writesTwice;
    EXPECT_EQ(std::vector<std::string>{"get /srv/qm/c.dat"}, repository.keys);
    EXPECT_EQ(std::string::npos, writesTwice.find("<writeCalls>"));
}

TEST_F(XmlClassifierTest, NamesThatAreNoPlainFileNamesNeverReachTheRepository) {
    const std::string tooLong(101, 'a');
    for (const std::string name : {"../x", "a\\b", ".hidden", "", "sp ace", tooLong.c_str()}) {
        const std::string read = run(
            readCalls(call("getInformation", "r", "classifierName=\"" + name + "\"")), true);
        EXPECT_EQ(4000, statusOf(read)) << name;
        EXPECT_EQ(0u, messageOf(read).find("The classifier name '" + name + "' is not allowed."))
            << messageOf(read);
        EXPECT_NE(std::string::npos, messageOf(read).find("\nCall id: r\nReadCall: getInformation"));

        const std::string write = run(writeCalls(name, call("create", "w")), true);
        EXPECT_EQ(4000, statusOf(write)) << name;
        EXPECT_NE(std::string::npos, messageOf(write).find("\nCall id: w\nWriteCall: create"))
            << messageOf(write);
    }
    EXPECT_TRUE(repository.keys.empty());

    // The longest name allowed, of every kind of character allowed.
    const std::string longest = "A-z_0.9" + std::string(93, 'a');
    repository.add("/srv/qm/" + longest + ".dat", {"good"});
    const std::string plain =
        run(readCalls(call("getInformation", "r", "classifierName=\"" + longest + "\"")), true);
    EXPECT_EQ(2000, statusOf(plain)) << plain;
}

}  // namespace
}  // namespace norvale::quillmark
