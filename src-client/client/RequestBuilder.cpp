#include "client/RequestBuilder.h"

#include <utility>

#include "debug/assertion.h"
#include "util/EscapeXml.h"

namespace norvale::quillmark::client {

namespace {

constexpr std::string_view Declaration = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n";
constexpr std::string_view Closing = "</quillmark>\n";
constexpr std::string_view TextsStart = "\t<texts>\n";
constexpr std::string_view TextsEnd = "\t</texts>\n";
constexpr std::string_view ReadCallsStart = "\t<readCalls>\n";
constexpr std::string_view ReadCallsEnd = "\t</readCalls>\n";
constexpr std::string_view WriteCallsEnd = "\t</writeCalls>\n";

void attribute(std::string& text, std::string_view name, std::string_view value) {
    text += ' ';
    text += name;
    text += "=\"";
    text += util::escapeXml(value);
    text += '"';
}

}  // namespace

RequestBuilder::RequestBuilder(std::string version, const util::Base64Encoder* encoder)
    : _version(std::move(version)), _encoder(encoder) {}

std::string RequestBuilder::addText(std::string_view bytes) {
    return addEncodedText(_encoder->encode(bytes));
}

std::string RequestBuilder::addEncodedText(std::string_view base64) {
    std::string id = "t" + std::to_string(++_textCount);
    _texts += "\t\t<textBase64";
    attribute(_texts, "id", id);
    _texts += '>';
    _texts += base64;
    _texts += "</textBase64>\n";
    return id;
}

std::string RequestBuilder::nextCallId() {
    return "c" + std::to_string(++_callCount);
}

std::string RequestBuilder::readCall(std::string_view call, const std::string& classifierName,
                                     const std::string* textId) {
    std::string id = nextCallId();
    _readCalls += "\t\t<";
    _readCalls += call;
    attribute(_readCalls, "id", id);
    attribute(_readCalls, "classifierName", classifierName);
    if (textId != nullptr) attribute(_readCalls, "textId", *textId);
    _readCalls += "/>\n";
    return id;
}

std::string RequestBuilder::classify(const std::string& classifierName, const std::string& textId) {
    return readCall("classify", classifierName, &textId);
}

std::string RequestBuilder::classifyKeywords(const std::string& classifierName,
                                             const std::string& textId) {
    return readCall("classifyKeywords", classifierName, &textId);
}

std::string RequestBuilder::getInformation(const std::string& classifierName) {
    return readCall("getInformation", classifierName, nullptr);
}

void RequestBuilder::setWriteClassifier(const std::string& classifierName) {
    _writeClassifier = classifierName;
}

std::string RequestBuilder::writeCall(std::string_view call, const std::string* className,
                                      const std::string* textId) {
    QM_ASSERT(!_writeClassifier.empty(), "A write call needs the classifier it acts on.");
    std::string id = nextCallId();
    _writeCalls += "\t\t<";
    _writeCalls += call;
    attribute(_writeCalls, "id", id);
    if (className != nullptr) attribute(_writeCalls, "className", *className);
    if (textId != nullptr) attribute(_writeCalls, "textId", *textId);
    _writeCalls += "/>\n";
    return id;
}

std::string RequestBuilder::create() {
    return writeCall("create", nullptr, nullptr);
}

std::string RequestBuilder::remove() {
    return writeCall("remove", nullptr, nullptr);
}

std::string RequestBuilder::addClass(const std::string& className) {
    return writeCall("addClass", &className, nullptr);
}

std::string RequestBuilder::removeClass(const std::string& className) {
    return writeCall("removeClass", &className, nullptr);
}

std::string RequestBuilder::train(const std::string& className, const std::string& textId) {
    return writeCall("train", &className, &textId);
}

std::string RequestBuilder::untrain(const std::string& className, const std::string& textId) {
    return writeCall("untrain", &className, &textId);
}

RequestBuilder::Mark RequestBuilder::mark() const {
    return {_texts.size(), _readCalls.size(), _writeCalls.size(), _textCount, _callCount};
}

void RequestBuilder::rollback(const Mark& mark) {
    _texts.resize(mark.texts);
    _readCalls.resize(mark.readCalls);
    _writeCalls.resize(mark.writeCalls);
    _textCount = mark.textCount;
    _callCount = mark.callCount;
}

std::string RequestBuilder::opening() const {
    std::string text(Declaration);
    text += "<quillmark";
    attribute(text, "xmlns", RequestNamespace);
    attribute(text, "version", _version);
    text += ">\n";
    return text;
}

std::string RequestBuilder::writeCallsStart() const {
    std::string text = "\t<writeCalls";
    attribute(text, "classifierName", _writeClassifier);
    text += ">\n";
    return text;
}

// Sections without content are left out: the schema wants at least one call in each sequence.
std::size_t RequestBuilder::size() const {
    std::size_t total = opening().size() + Closing.size();
    if (!_texts.empty()) total += TextsStart.size() + _texts.size() + TextsEnd.size();
    if (!_readCalls.empty()) {
        total += ReadCallsStart.size() + _readCalls.size() + ReadCallsEnd.size();
    }
    if (!_writeCalls.empty()) {
        total += writeCallsStart().size() + _writeCalls.size() + WriteCallsEnd.size();
    }
    return total;
}

std::string RequestBuilder::build() const {
    std::string text = opening();
    text.reserve(size());
    if (!_texts.empty()) {
        text += TextsStart;
        text += _texts;
        text += TextsEnd;
    }
    if (!_readCalls.empty()) {
        text += ReadCallsStart;
        text += _readCalls;
        text += ReadCallsEnd;
    }
    if (!_writeCalls.empty()) {
        text += writeCallsStart();
        text += _writeCalls;
        text += WriteCallsEnd;
    }
    text += Closing;
    return text;
}

}  // namespace norvale::quillmark::client
