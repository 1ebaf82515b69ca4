#pragma once

// Request builders of the self test: each object collects texts and calls and writes them as one
// request document, the way an ordinary client would. Texts always travel Base64-encoded, so any
// byte string can be sent. An Api is used by one thread.

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "util/Base64Encoder.h"

namespace norvale::quillmark::test {

class Api {
public:
    // The namespace every request is written in; the request schema declares the same one.
    static constexpr const char* RequestNamespace =
        "http://quillmark.invalid/1/server/RequestSchema";

    virtual ~Api() = default;

    // Adds a textBase64 element; ids are written as given, also when they repeat.
    void addText(const std::string& id, std::string_view text);

    // The whole document: declaration, root with namespace and version, texts, then the calls.
    std::string getRequest() const;

protected:
    // `encoder` is not owned and must outlive the builder.
    Api(const util::Base64Encoder* encoder, std::string version);

    // One call element on its own line inside the calls element; attributes are escaped here.
    void addCall(const std::string& name,
                 std::initializer_list<std::pair<const char*, std::string>> attributes);

    virtual std::string callsStartTag() const = 0;
    virtual std::string callsEndTag() const = 0;

private:
    const util::Base64Encoder* _encoder;
    std::string _version;
    std::string _texts;
    std::string _calls;
};

// A request whose calls sit in a readCalls element (without attributes).
class ReadCallsApi : public Api {
public:
    ReadCallsApi(const util::Base64Encoder* encoder, std::string version);

    void classify(const std::string& id, const std::string& classifierName,
                  const std::string& textId);

protected:
    std::string callsStartTag() const override;
    std::string callsEndTag() const override;
};

// A request whose calls sit in a writeCalls element naming the classifier they act on.
class WriteCallsApi : public Api {
public:
    WriteCallsApi(const util::Base64Encoder* encoder, std::string version,
                  std::string classifierName);

    void create(const std::string& id);
    void remove(const std::string& id);
    void addClass(const std::string& id, const std::string& className);
    void train(const std::string& id, const std::string& className, const std::string& textId);

protected:
    std::string callsStartTag() const override;
    std::string callsEndTag() const override;

private:
    std::string _classifierName;
};

}  // namespace norvale::quillmark::test
