#include "server/test/Api.h"

#include <utility>

#include "util/EscapeXml.h"

namespace norvale::quillmark::test {

namespace {

std::string attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + util::escapeXml(value) + "\"";
}

}  // namespace

Api::Api(const util::Base64Encoder* encoder, std::string version)
    : _encoder(encoder), _version(std::move(version)) {}

void Api::addText(const std::string& id, std::string_view text) {
    _texts +=
        "\t\t<textBase64" + attribute("id", id) + ">" + _encoder->encode(text) + "</textBase64>\n";
}

void Api::addCall(const std::string& name,
                  std::initializer_list<std::pair<const char*, std::string>> attributes) {
    _calls += "\t\t<" + name;
    for (const auto& [attributeName, value] : attributes) _calls += attribute(attributeName, value);
    _calls += "/>\n";
}

std::string Api::getRequest() const {
    std::string request = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n";
    request += "<quillmark" + attribute("xmlns", RequestNamespace) +
               attribute("version", _version) + ">\n";
    request += "\t<texts>\n" + _texts + "\t</texts>\n";
    request += "\t" + callsStartTag() + "\n" + _calls + "\t" + callsEndTag() + "\n";
    request += "</quillmark>";
    return request;
}

ReadCallsApi::ReadCallsApi(const util::Base64Encoder* encoder, std::string version)
    : Api(encoder, std::move(version)) {}

void ReadCallsApi::classify(const std::string& id, const std::string& classifierName,
                            const std::string& textId) {
    addCall("classify", {{"id", id}, {"classifierName", classifierName}, {"textId", textId}});
}

std::string ReadCallsApi::callsStartTag() const {
    return "<readCalls>";
}

std::string ReadCallsApi::callsEndTag() const {
    return "</readCalls>";
}

WriteCallsApi::WriteCallsApi(const util::Base64Encoder* encoder, std::string version,
                             std::string classifierName)
    : Api(encoder, std::move(version)), _classifierName(std::move(classifierName)) {}

void WriteCallsApi::create(const std::string& id) {
    addCall("create", {{"id", id}});
}

void WriteCallsApi::remove(const std::string& id) {
    addCall("remove", {{"id", id}});
}

void WriteCallsApi::addClass(const std::string& id, const std::string& className) {
    addCall("addClass", {{"id", id}, {"className", className}});
}

void WriteCallsApi::train(const std::string& id, const std::string& className,
                          const std::string& textId) {
    addCall("train", {{"id", id}, {"className", className}, {"textId", textId}});
}

std::string WriteCallsApi::callsStartTag() const {
    return "<writeCalls" + attribute("classifierName", _classifierName) + ">";
}

std::string WriteCallsApi::callsEndTag() const {
    return "</writeCalls>";
}

}  // namespace norvale::quillmark::test
