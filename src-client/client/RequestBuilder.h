#pragma once

// Builds one request document as text: the texts, always Base64-encoded so that files in any
// encoding reach the server byte for byte, the read calls, and the write calls on one
// classifier. size() is the exact length build() would return, and mark()/rollback() undo the
// last additions, so a caller can fill a request up to a byte bound without building it twice.
// Ids are generated: texts "t1", "t2", ..., calls "c1", "c2", ... in the order they are added.
// A plain value used by one thread.

#include <cstddef>
#include <string>
#include <string_view>

#include "util/Base64Encoder.h"

namespace norvale::quillmark::client {

class RequestBuilder {
public:
    // The namespace of request documents; the request schema declares the same one.
    static constexpr std::string_view RequestNamespace =
        "http://quillmark.invalid/1/server/RequestSchema";

    // `version` is written as the protocol version ("1.00" or "1.01"); `encoder` is not owned.
    RequestBuilder(std::string version, const util::Base64Encoder* encoder);

    // Adds a text and returns its id.
    std::string addText(std::string_view bytes);
    // Adds a text that is already Base64 text.
    std::string addEncodedText(std::string_view base64);

    // Read calls; each returns the call id.
    std::string classify(const std::string& classifierName, const std::string& textId);
    std::string classifyKeywords(const std::string& classifierName, const std::string& textId);
    std::string getInformation(const std::string& classifierName);

    // Every write call of a request acts on the classifier named here; it must be set before
    // the first write call.
    void setWriteClassifier(const std::string& classifierName);
    std::string create();
    std::string remove();
    std::string addClass(const std::string& className);
    std::string removeClass(const std::string& className);
    std::string train(const std::string& className, const std::string& textId);
    std::string untrain(const std::string& className, const std::string& textId);

    std::size_t callCount() const { return _callCount; }
    bool empty() const { return _textCount == 0 && _callCount == 0; }

    // The state after the calls so far, to return to with rollback.
    struct Mark {
        std::size_t texts;
        std::size_t readCalls;
        std::size_t writeCalls;
        std::size_t textCount;
        std::size_t callCount;
    };
    Mark mark() const;
    void rollback(const Mark& mark);

    std::size_t size() const;
    std::string build() const;

private:
    std::string nextCallId();
    std::string readCall(std::string_view call, const std::string& classifierName,
                         const std::string* textId);
    std::string writeCall(std::string_view call, const std::string* className,
                          const std::string* textId);
    std::string opening() const;
    std::string writeCallsStart() const;

    std::string _version;
    const util::Base64Encoder* _encoder;
    std::string _writeClassifier;
    // Finished lines of the three sections, without their start and end tags.
    std::string _texts;
    std::string _readCalls;
    std::string _writeCalls;
    std::size_t _textCount = 0;
    std::size_t _callCount = 0;
};

}  // namespace norvale::quillmark::client
