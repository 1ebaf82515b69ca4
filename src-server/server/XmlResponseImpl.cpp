#include "server/XmlResponseImpl.h"

#include <utility>

#include "debug/assertion.h"
#include "server/ResponseDocument.h"
#include "util/EscapeXml.h"

namespace norvale::quillmark {

namespace {

// Appends ` name="value"` with the value escaped.
void attribute(std::string& line, std::string_view name, std::string_view value) {
    line += ' ';
    line += name;
    line += "=\"";
    util::appendEscapedXml(line, value);
    line += '"';
}

// Appends tabs, "<tag id="...">" and a line feed.
void startTagWithId(std::string& text, std::string_view tabs, std::string_view tag,
                    const std::string& id) {
    text += tabs;
    text += '<';
    text += tag;
    attribute(text, "id", id);
    text += ">\n";
}

void line(std::string& text, std::string_view tabs, std::string_view content) {
    text += tabs;
    text += content;
    text += '\n';
}

// "<tag>value</tag>" on one line.
void numberElement(std::string& text, std::string_view tabs, std::string_view tag,
                   std::uint32_t value) {
    text += tabs;
    text += '<';
    text += tag;
    text += '>';
    text += std::to_string(value);
    text += "</";
    text += tag;
    text += ">\n";
}

}  // namespace

XmlResponseImpl::XmlResponseImpl(std::string responseNamespace, const RequestVersion& version,
                                 std::uint64_t maxAnswer)
    : _namespace(std::move(responseNamespace)), _version(version), _maxAnswer(maxAnswer) {}

// Checked after each result, so the results held stay within one result of the bound.
void XmlResponseImpl::checkBound() const {
    if (_maxAnswer == 0 || _readCalls.size() + _writeCalls.size() <= _maxAnswer) return;
    throw AnswerTooLargeException("The answer would be larger than " + std::to_string(_maxAnswer) +
                                  " bytes, the bound of this server (maxOutput); ask for fewer "
                                  "results in one request.");
}

void XmlResponseImpl::classify(const std::string& id,
                               const classifier::Classification& classification) {
    // The engine refuses to classify without classes, so an empty result is a broken invariant.
    QM_ASSERT(!classification.getProbabilities().empty(),
              "A classification without any class cannot be written into a response.");
    startTagWithId(_readCalls, "\t", "classify", id);
    _readCalls += "\t\t<classification";
    if (_version.hasTextCoverage()) {
        attribute(_readCalls, "textCoverage",
                  responseDocument::number(classification.getTextCoverage()));
    }
    _readCalls += ">\n";
    for (const auto& [className, probability] : classification.getProbabilities()) {
        _readCalls += "\t\t\t<class";
        attribute(_readCalls, "className", className);
        attribute(_readCalls, "p", responseDocument::number(probability));
        _readCalls += "/>\n";
    }
    line(_readCalls, "\t\t", "</classification>");
    line(_readCalls, "\t", "</classify>");
    checkBound();
}

void XmlResponseImpl::classifyKeywords(const std::string& id,
                                       const classifier::KeywordQueue& keywords) {
    startTagWithId(_readCalls, "\t", "classifyKeywords", id);
    line(_readCalls, "\t\t", "<keywords>");
    // Storage order of the heap, not sorted: clients see the queue as the engine left it.
    for (const classifier::Keyword& keyword : keywords) {
        _readCalls += "\t\t\t<keyword";
        attribute(_readCalls, "className", keyword.className());
        attribute(_readCalls, "p", responseDocument::number(keyword.probability()));
        _readCalls += '>';
        _readCalls += util::escapeXml(responseDocument::xmlCharacters(keyword.tokenView()));
        _readCalls += "</keyword>\n";
    }
    line(_readCalls, "\t\t", "</keywords>");
    line(_readCalls, "\t", "</classifyKeywords>");
    checkBound();
}

void XmlResponseImpl::getInformation(const std::string& id,
                                     const std::vector<classifier::ClassInformation>& classes) {
    startTagWithId(_readCalls, "\t\t", "getInformation", id);
    line(_readCalls, "\t\t\t", "<classes>");
    for (const classifier::ClassInformation& information : classes) {
        _readCalls += "\t\t\t\t<classInformation";
        attribute(_readCalls, "className", information.name());
        _readCalls += ">\n";
        numberElement(_readCalls, "\t\t\t\t\t", "uniqueFeatures", information.uniqueFeatures());
        numberElement(_readCalls, "\t\t\t\t\t", "totalCount", information.totalCount());
        line(_readCalls, "\t\t\t\t", "</classInformation>");
    }
    line(_readCalls, "\t\t\t", "</classes>");
    line(_readCalls, "\t\t", "</getInformation>");
    checkBound();
}

void XmlResponseImpl::create(const std::string& id) {
    appendWriteResult("create", id);
}

void XmlResponseImpl::remove(const std::string& id) {
    appendWriteResult("remove", id);
}

void XmlResponseImpl::addClass(const std::string& id) {
    appendWriteResult("addClass", id);
}

void XmlResponseImpl::removeClass(const std::string& id) {
    appendWriteResult("removeClass", id);
}

void XmlResponseImpl::train(const std::string& id) {
    appendWriteResult("train", id);
}

void XmlResponseImpl::untrain(const std::string& id) {
    appendWriteResult("untrain", id);
}

void XmlResponseImpl::appendWriteResult(std::string_view call, const std::string& id) {
    _writeCalls += "\t\t<";
    _writeCalls += call;
    attribute(_writeCalls, "id", id);
    _writeCalls += "/>\n";
    checkBound();
}

std::string XmlResponseImpl::getResponse() const {
    std::string document = responseDocument::opening(_namespace, _version.getText());
    // Room for the whole document at once: no growth leaves a second, larger buffer behind.
    constexpr std::size_t Framing = 160;
    document.reserve(document.size() + _readCalls.size() + _writeCalls.size() + Framing);
    if (_readCalls.empty() && _writeCalls.empty()) {
        line(document, "\t",
             "<status success=\"false\" statusCode=\"5000\">No calls were found in the "
             "response.</status>");
    } else {
        line(document, "\t", "<status success=\"true\" statusCode=\"2000\"/>");
        if (!_readCalls.empty()) {
            line(document, "\t", "<readCalls>");
            document += _readCalls;
            line(document, "\t", "</readCalls>");
        }
        if (!_writeCalls.empty()) {
            line(document, "\t", "<writeCalls>");
            document += _writeCalls;
            line(document, "\t", "</writeCalls>");
        }
    }
    document += responseDocument::Closing;
    return document;
}

void XmlResponseImpl::clear() {
    _readCalls.clear();
    _writeCalls.clear();
}

}  // namespace norvale::quillmark
