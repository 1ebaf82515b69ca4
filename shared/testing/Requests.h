#pragma once

// The request builder of the tests: request documents as a client writes them, and the few
// facts tests read from an answer.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace norvale::quillmark::testing {

inline const std::string RequestNamespace = "http://quillmark.invalid/1/server/RequestSchema";

// The parts of a request body.
inline std::string texts(const std::string& elements) {
    return "<texts>" + elements + "</texts>";
}
inline std::string text(const std::string& id, const std::string& content) {
    return "<text id=\"" + id + "\">" + content + "</text>";
}
inline std::string readCalls(const std::string& calls) {
    return "<readCalls>" + calls + "</readCalls>";
}
inline std::string writeCalls(const std::string& name, const std::string& calls,
                              const std::string& extraAttributes = "") {
    return "<writeCalls classifierName=\"" + name + "\"" + extraAttributes + ">" + calls +
           "</writeCalls>";
}
// One call element: `attributes` as written after the id.
inline std::string call(const std::string& method, const std::string& id,
                        const std::string& attributes = "") {
    return "<" + method + " id=\"" + id + "\"" + (attributes.empty() ? "" : " " + attributes) +
           "/>";
}

// A whole request document around `body`.
inline std::string request(const std::string& body, const std::string& version = "1.00",
                           const std::string& requestNamespace = RequestNamespace) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quillmark xmlns=\"" + requestNamespace +
           "\" version=\"" + version + "\">" + body + "</quillmark>";
}

// create, then one addClass per class name.
inline std::string createRequest(const std::string& classifier,
                                 const std::vector<std::string>& classes) {
    std::string calls = call("create", "c");
    for (const std::string& name : classes) {
        calls += call("addClass", name, "className=\"" + name + "\"");
    }
    return request(writeCalls(classifier, calls));
}
// One train call per text, all into className, in one transaction.
inline std::string trainRequest(const std::string& classifier, const std::string& className,
                                const std::vector<std::string>& trainTexts) {
    std::string elements;
    std::string calls;
    for (std::size_t i = 0; i < trainTexts.size(); ++i) {
        const std::string id = "t" + std::to_string(i);
        elements += text(id, trainTexts[i]);
        calls += call("train", id, "className=\"" + className + "\" textId=\"" + id + "\"");
    }
    return request(texts(elements) + writeCalls(classifier, calls));
}
inline std::string classifyRequest(const std::string& classifier, const std::string& content) {
    return request(
        texts(text("t", content)) +
        readCalls(call("classify", "r", "classifierName=\"" + classifier + "\" textId=\"t\"")));
}
inline std::string informationRequest(const std::string& classifier) {
    return request(readCalls(call("getInformation", "i", "classifierName=\"" + classifier + "\"")));
}

// A text whose words appear in no other text of the test: word j of text n is "w" followed by
// the seven digits of 20n + j, so every text also extracts the same number of features (long
// soaks wrap around after 500000 texts, which keeps that).
inline std::string distinctText(unsigned n) {
    std::string text;
    for (unsigned j = 0; j < 20; ++j) {
        char word[16];
        std::snprintf(word, sizeof word, "w%07u ", (20 * n + j) % 10000000);
        text += word;
    }
    return text;
}

// The statusCode of a response or error document, -1 when it has none.
inline int statusOf(const std::string& document) {
    const std::string label = "statusCode=\"";
    const std::size_t start = document.find(label);
    if (start == std::string::npos) return -1;
    return std::atoi(document.c_str() + start + label.size());
}

// The totalCount of one class in a getInformation response, -1 when it is missing.
inline long totalCountOf(const std::string& document, const std::string& className) {
    const std::size_t at = document.find("<classInformation className=\"" + className + "\">");
    if (at == std::string::npos) return -1;
    const std::string label = "<totalCount>";
    const std::size_t count = document.find(label, at);
    if (count == std::string::npos) return -1;
    return std::atol(document.c_str() + count + label.size());
}

}  // namespace norvale::quillmark::testing
