#include "load/CorpusRequests.h"

#include <cstdlib>

namespace bench::load {

namespace {

// The value of attribute name in the element text starting at from; npos-safe.
std::string attribute(const std::string& document, std::size_t from, std::size_t to,
                      const std::string& name) {
    const std::string label = " " + name + "=\"";
    const std::size_t start = document.find(label, from);
    if (start == std::string::npos || start > to) return "";
    const std::size_t value = start + label.size();
    return document.substr(value, document.find('"', value) - value);
}

}  // namespace

std::string CorpusRequests::document(const std::string& body) const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quillmark xmlns=\"" + _namespace +
           "\" version=\"1.00\">" + body + "</quillmark>";
}

std::string CorpusRequests::text(const std::string& id, const std::string& bytes) const {
    return "<textBase64 id=\"" + id + "\">" + _base64->encode(bytes) + "</textBase64>";
}

std::string CorpusRequests::create(const std::string& classifier,
                                   const std::vector<std::string>& labels) const {
    std::string calls = "<create id=\"c\"/>";
    for (std::size_t i = 0; i < labels.size(); ++i) {
        calls += "<addClass id=\"a" + std::to_string(i) + "\" className=\"" + labels[i] + "\"/>";
    }
    return document("<writeCalls classifierName=\"" + classifier + "\">" + calls + "</writeCalls>");
}

std::string CorpusRequests::train(const std::string& classifier,
                                  std::span<const corpus::LabelledText> texts) const {
    std::string elements;
    std::string calls;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string id = "t" + std::to_string(i);
        elements += text(id, texts[i].text);
        calls +=
            "<train id=\"" + id + "\" className=\"" + texts[i].label + "\" textId=\"" + id + "\"/>";
    }
    return document("<texts>" + elements + "</texts><writeCalls classifierName=\"" + classifier +
                    "\">" + calls + "</writeCalls>");
}

std::string CorpusRequests::classify(const std::string& classifier,
                                     const std::string& bytes) const {
    return document("<texts>" + text("t", bytes) + "</texts><readCalls><classify id=\"r\" " +
                    "classifierName=\"" + classifier + "\" textId=\"t\"/></readCalls>");
}

std::string CorpusRequests::classifyKeywords(const std::string& classifier,
                                             const std::string& bytes) const {
    return document("<texts>" + text("t", bytes) + "</texts><readCalls><classifyKeywords " +
                    "id=\"k\" classifierName=\"" + classifier + "\" textId=\"t\"/></readCalls>");
}

std::string CorpusRequests::getInformation(const std::string& classifier) const {
    return document("<readCalls><getInformation id=\"i\" classifierName=\"" + classifier +
                    "\"/></readCalls>");
}

std::string targetNamespaceOf(const std::string& schemaText) {
    return attribute(schemaText, 0, std::string::npos, "targetNamespace");
}

std::string bestClassOf(const std::string& answer) {
    std::string best;
    double bestP = 0.0;
    for (std::size_t at = answer.find("<class "); at != std::string::npos;
         at = answer.find("<class ", at + 1)) {
        const std::size_t end = answer.find('>', at);
        const std::string p = attribute(answer, at, end, "p");
        const double value = std::strtod(p.c_str(), nullptr);
        if (best.empty() || value > bestP) {
            best = attribute(answer, at, end, "className");
            bestP = value;
        }
    }
    return best;
}

}  // namespace bench::load
