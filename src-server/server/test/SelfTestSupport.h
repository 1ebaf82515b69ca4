#pragma once

// Helpers of the self-test client's tests: a small stand-in for the server that speaks the
// request protocol over loopback (schema validation, classifiers with classes kept in memory,
// the real response and error writers) and can be told to answer one thing wrongly. Never
// linked into the product.

#include <cstdint>
#include <functional>
#include <memory>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "classifier/Classification.h"
#include "exceptions/Exception.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "server/ClassifyServer.h"
#include "server/ConnectionParams.h"
#include "server/ErrorResponseFactoryImpl.h"
#include "server/Log.h"
#include "server/StringClassifierFactory.h"
#include "server/RequestVersion.h"
#include "server/StatusCode.h"
#include "server/XmlErrorResponseImpl.h"
#include "server/XmlResponseImpl.h"
#include "util/StringHelper.h"
#include "xml/ComInitializer.h"
#include "xml/Document.h"
#include "xml/SchemaCache.h"

namespace norvale::quillmark::test::support {

inline std::string schemaFolder() {
    return std::string(QM_SCHEMA_DIR) + "/server/";
}

// The one thing the stand-in gets wrong, if any.
enum class Fault {
    None,
    WrongSuccessVersion,    // success documents claim version "1.00" for every request
    ServerErrorForInvalid,  // invalid requests get 5000 instead of 4000
    EmptyErrorMessage,      // error documents carry no message
    NotFoundWithoutName,    // a missing classifier's message leaves out its name
    NotFoundOtherWording,   // ... or says it differently
    RefuseReads,            // every read call fails as if its classifier were missing
    DropSecondReadResult,   // a request with read calls loses its second result
    RepeatFirstReadResult,  // ... or gets its first result twice
    OddSuccessCode,         // success documents carry status code 2001
    SuccessFlagOnErrors,    // error documents say success="true"
    NoAnswer,               // the connection closes without answering
};

class FakeQuillmark {
public:
    explicit FakeQuillmark(Fault fault = Fault::None) : _fault(fault) {
        xml::ComInitializer com;
        xml::Document request;
        request.loadFromFile(schemaFolder() + "RequestSchema.xsd");
        _requestNamespace = request.getTargetNamespace();
        _schemas.add(_requestNamespace, request);
        xml::Document response;
        response.loadFromFile(schemaFolder() + "ResponseSchema.xsd");
        _responseNamespace = response.getTargetNamespace();
    }

    std::string answer(const std::string& request) {
        if (_fault == Fault::NoAnswer) return "";
        {
            std::lock_guard lock(_mutex);
            ++_requests;
        }
        xml::Document document(&_schemas);
        document.setSelectionNamespaces("xmlns:qm='" + _requestNamespace + "'");
        try {
            document.loadFromMemory(request);
            document.validate();
        } catch (const exceptions::Exception& e) {
            return error(statusCode::BAD_REQUEST, std::string("Validation failed. ") + e.what());
        }
        const xml::Element root = document.selectExactlyOne("/qm:quillmark");
        RequestVersion version = RequestVersion::parse(root.getAttribute("version"));
        if (_fault == Fault::WrongSuccessVersion) version = RequestVersion("1.00", 1.0);
        XmlResponseImpl response(_responseNamespace, version);
        std::string failure;
        if (!readCalls(root, response, failure) || !writeCalls(root, response, failure)) {
            return error(statusCode::BAD_REQUEST, failure);
        }
        std::string answer = response.getResponse();
        if (_fault == Fault::OddSuccessCode) replace(answer, "\"2000\"", "\"2001\"");
        return answer;
    }

    int requests() {
        std::lock_guard lock(_mutex);
        return _requests;
    }
    bool exists(const std::string& name) {
        std::lock_guard lock(_mutex);
        return _classifiers.count(util::StringHelper::toLower(name)) != 0;
    }

private:
    using Classifiers = std::map<std::string, std::set<std::string>>;

    std::string error(int code, std::string message) const {
        if (_fault == Fault::ServerErrorForInvalid && code == statusCode::BAD_REQUEST) {
            code = statusCode::SERVER_ERROR;
        }
        if (_fault == Fault::EmptyErrorMessage) message.clear();
        std::string document =
            XmlErrorResponseImpl(_responseNamespace, "1.00").getErrorResponse(code, message);
        if (_fault == Fault::SuccessFlagOnErrors) {
            replace(document, "success=\"false\"", "success=\"true\"");
        }
        return document;
    }

    static void replace(std::string& text, const std::string& from, const std::string& to) {
        const std::size_t at = text.find(from);
        if (at != std::string::npos) text.replace(at, from.size(), to);
    }

    static std::string notFound(Fault fault, const std::string& name) {
        if (fault == Fault::NotFoundWithoutName) {
            return "The requested classifier could not be found.";
        }
        if (fault == Fault::NotFoundOtherWording) return "There is no classifier " + name + ".";
        return "The requested classifier could not be found. './classifiers//" + name + ".dat'.";
    }

    bool readCalls(const xml::Element& root, XmlResponseImpl& response, std::string& failure) {
        const xml::NodeList calls = root.selectNodes("qm:readCalls/*");
        std::lock_guard lock(_mutex);
        for (std::size_t i = 0; i < calls.count(); ++i) {
            const xml::Element call = calls.item(i);
            const std::string name = call.getAttribute("classifierName");
            const auto classifier = _classifiers.find(util::StringHelper::toLower(name));
            if (classifier == _classifiers.end() || _fault == Fault::RefuseReads) {
                failure = notFound(_fault, name);
                return false;
            }
            if (classifier->second.empty()) {
                failure = "Trying to classify a text before any classes have been added!";
                return false;
            }
            classifier::Classification classification;
            for (const std::string& className : classifier->second) {
                classification.setProbability(className, 1.0 / classifier->second.size());
            }
            classification.setTextCoverage(0.5);
            if (i != 1 || _fault != Fault::DropSecondReadResult) {
                response.classify(call.getAttribute("id"), classification);
            }
            if (i == 0 && _fault == Fault::RepeatFirstReadResult) {
                response.classify(call.getAttribute("id"), classification);
            }
        }
        return true;
    }

    // All calls work on a copy that replaces the stored state only when every call succeeded.
    bool writeCalls(const xml::Element& root, XmlResponseImpl& response, std::string& failure) {
        const xml::NodeList calls = root.selectNodes("qm:writeCalls/*");
        if (calls.count() == 0) return true;
        const std::string key = util::StringHelper::toLower(
            root.selectExactlyOne("qm:writeCalls").getAttribute("classifierName"));
        std::lock_guard lock(_mutex);
        Classifiers copy = _classifiers;
        for (std::size_t i = 0; i < calls.count(); ++i) {
            const xml::Element call = calls.item(i);
            const std::string method = call.getTagName();
            const std::string id = call.getAttribute("id");
            const bool exists = copy.count(key) != 0;
            if (method == "create" && !exists) {
                copy[key];
                response.create(id);
            } else if (method == "remove" && exists) {
                copy.erase(key);
                response.remove(id);
            } else if (method == "addClass" && exists &&
                       copy[key].insert(call.getAttribute("className")).second) {
                response.addClass(id);
            } else if (method == "train" && exists &&
                       copy[key].count(call.getAttribute("className")) != 0) {
                response.train(id);
            } else {
                failure = "The call " + method + " failed on '" + key + "'.";
                return false;
            }
        }
        _classifiers = std::move(copy);
        return true;
    }

    const Fault _fault;
    xml::SchemaCache _schemas;
    std::string _requestNamespace;
    std::string _responseNamespace;
    std::mutex _mutex;  // guards _classifiers and _requests
    Classifiers _classifiers;
    int _requests = 0;
};

// Serves answers made by a function through the server's own connection road (ClassifyServer
// with 16 workers) on a port the system picks, until destroyed; logs nothing.
class StandInServer : private StringClassifierFactory, private Log {
public:
    using Answer = std::function<std::string(const std::string&)>;

    explicit StandInServer(Answer answer)
        : _answer(std::move(answer)), _server(&threads, 0, {16, 64, 0}, params()) {
        _server.start();
    }
    ~StandInServer() override { _server.stop(); }

    std::uint16_t port() const { return _server.localPort(); }

    platform::thread::OsInfoImpl os;
    platform::thread::ThreadFactoryImpl threads{&os};

private:
    class Call : public StringClassifier {
    public:
        explicit Call(const Answer* answer) : _answer(answer) {}
        std::string process(const std::string& request) override { return (*_answer)(request); }

    private:
        const Answer* _answer;
    };

    std::unique_ptr<StringClassifier> create() const override {
        return std::make_unique<Call>(&_answer);
    }
    void log(const std::string&) override {}
    void error(const std::string&) override {}
    void test(const std::string&) override {}
    void assertionFailed(const std::string&, const std::string&, const std::string&,
                         int) override {}

    const ConnectionParams* params() {
        _params.maxInput = widenMaxInput(-1);
        _params.log = this;
        _params.classifierFactory = this;
        _params.errorResponseFactory = &_errors;
        return &_params;
    }

    const Answer _answer;
    ErrorResponseFactoryImpl _errors{"urn:quillmark:stand-in", "1.00"};
    ConnectionParams _params;
    ClassifyServer _server;
};

}  // namespace norvale::quillmark::test::support
