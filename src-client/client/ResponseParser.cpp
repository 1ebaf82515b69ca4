#include "client/ResponseParser.h"

#include <cstdint>
#include <string>

#include "util/NumberParser.h"
#include "util/Utf8.h"
#include "xml/Document.h"
#include "xml/Element.h"
#include "xml/NodeList.h"

namespace norvale::quillmark::client {

namespace {

constexpr unsigned char ProtectLead = 0xF4;
constexpr unsigned char ProtectSecond = 0x8F;

bool needsProtection(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = util::xmlCharacterLength(text, at);
        if (length == 0) return true;
        at += length;
    }
    return false;
}

std::string localName(const xml::Element& element) {
    const std::string name = element.getTagName();
    const std::size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

// Children of `parent`, or the children with this local name.
xml::NodeList children(const xml::Element& parent, const std::string& name = "") {
    return parent.selectNodes(name.empty() ? "*" : "*[local-name()='" + name + "']");
}

xml::Element onlyChild(const xml::Element& parent, const std::string& name) {
    const xml::NodeList found = children(parent, name);
    if (found.count() != 1) {
        throw ResponseFormatException("The response has " + std::to_string(found.count()) + " '" +
                                      name + "' elements where one was expected.");
    }
    return found.item(0);
}

// Reads the document's texts, undoing protectBytes when the document needed it.
class Reader {
public:
    explicit Reader(bool restore) : _restore(restore) {}

    std::string text(const std::string& value) const {
        return _restore ? restoreBytes(value) : value;
    }
    std::string attribute(const xml::Element& element, const std::string& name) const {
        return text(element.getAttribute(name));
    }
    double number(const xml::Element& element, const std::string& name) const {
        return util::parseDouble(element.getAttribute(name));
    }
    std::uint64_t count(const std::string& value) const {
        return static_cast<std::uint64_t>(util::parseInteger(value, 0, INT64_MAX));
    }

    ClassifyResult classify(const xml::Element& call) const {
        ClassifyResult result{attribute(call, "id"), {}, {}};
        const xml::Element classification = onlyChild(call, "classification");
        if (classification.attributeExists("textCoverage")) {
            result.textCoverage = number(classification, "textCoverage");
        }
        const xml::NodeList classes = children(classification, "class");
        for (std::size_t i = 0; i < classes.count(); ++i) {
            const xml::Element entry = classes.item(i);
            result.classes.push_back({attribute(entry, "className"), number(entry, "p")});
        }
        return result;
    }

    KeywordsResult keywords(const xml::Element& call) const {
        KeywordsResult result{attribute(call, "id"), {}};
        const xml::NodeList keywords = children(onlyChild(call, "keywords"), "keyword");
        for (std::size_t i = 0; i < keywords.count(); ++i) {
            const xml::Element entry = keywords.item(i);
            result.keywords.push_back(
                {text(entry.getText()), attribute(entry, "className"), number(entry, "p")});
        }
        return result;
    }

    InformationResult information(const xml::Element& call) const {
        InformationResult result{attribute(call, "id"), {}};
        const xml::NodeList classes = children(onlyChild(call, "classes"), "classInformation");
        for (std::size_t i = 0; i < classes.count(); ++i) {
            const xml::Element entry = classes.item(i);
            result.classes.push_back({attribute(entry, "className"),
                                      count(onlyChild(entry, "uniqueFeatures").getText()),
                                      count(onlyChild(entry, "totalCount").getText())});
        }
        return result;
    }

    void readCalls(const xml::Element& root, Response& response) const {
        const xml::NodeList sections = children(root, "readCalls");
        for (std::size_t s = 0; s < sections.count(); ++s) {
            const xml::NodeList calls = children(sections.item(s));
            for (std::size_t i = 0; i < calls.count(); ++i) {
                const xml::Element call = calls.item(i);
                const std::string name = localName(call);
                if (name == "classify") {
                    response.readResults.emplace_back(classify(call));
                } else if (name == "classifyKeywords") {
                    response.readResults.emplace_back(keywords(call));
                } else if (name == "getInformation") {
                    response.readResults.emplace_back(information(call));
                } else {
                    throw ResponseFormatException("The response holds an unknown read result '" +
                                                  name + "'.");
                }
            }
        }
    }

    void writeCalls(const xml::Element& root, Response& response) const {
        const xml::NodeList sections = children(root, "writeCalls");
        for (std::size_t s = 0; s < sections.count(); ++s) {
            const xml::NodeList calls = children(sections.item(s));
            for (std::size_t i = 0; i < calls.count(); ++i) {
                const xml::Element call = calls.item(i);
                response.writeResults.push_back({localName(call), attribute(call, "id")});
            }
        }
    }

private:
    bool _restore;
};

// The message of an error document ends with the tab before the status end tag.
std::string withoutTrailingBlanks(std::string text) {
    while (!text.empty() && (text.back() == '\t' || text.back() == ' ' || text.back() == '\n' ||
                             text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

Response read(const xml::Document& document, const Reader& reader) {
    const xml::Element root = document.selectExactlyOne("/*");
    if (localName(root) != "quillmark") {
        throw ResponseFormatException("The response's root element is '" + root.getTagName() +
                                      "', not 'quillmark'.");
    }
    Response response;
    response.version = reader.attribute(root, "version");
    const xml::Element status = onlyChild(root, "status");
    response.success = status.getBooleanAttribute("success");
    response.statusCode =
        static_cast<int>(util::parseInteger(status.getAttribute("statusCode"), 0, INT32_MAX));
    response.message = withoutTrailingBlanks(reader.text(status.getText()));
    reader.readCalls(root, response);
    reader.writeCalls(root, response);
    return response;
}

}  // namespace

std::string protectBytes(std::string_view text) {
    if (!needsProtection(text)) return std::string(text);
    std::string result;
    result.reserve(text.size() + text.size() / 4);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = util::xmlCharacterLength(text, at);
        if (length > 0) {
            result.append(text, at, length);
            at += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(text[at++]);
        // U+10FF00 + byte in UTF-8.
        result += static_cast<char>(ProtectLead);
        result += static_cast<char>(ProtectSecond);
        result += static_cast<char>(0xBC | (byte >> 6));
        result += static_cast<char>(0x80 | (byte & 0x3F));
    }
    return result;
}

std::string restoreBytes(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
        if (at + 4 <= text.size() && byte(0) == ProtectLead && byte(1) == ProtectSecond &&
            (byte(2) & 0xFC) == 0xBC && (byte(3) & 0xC0) == 0x80) {
            result += static_cast<char>(((byte(2) & 0x03) << 6) | (byte(3) & 0x3F));
            at += 4;
        } else {
            result += text[at++];
        }
    }
    return result;
}

Response parseResponse(std::string_view text) {
    const bool protect = needsProtection(text);
    try {
        xml::Document document;
        document.loadFromMemory(protect ? protectBytes(text) : std::string(text));
        return read(document, Reader(protect));
    } catch (const ResponseFormatException&) {
        throw;
    } catch (const exceptions::Exception& e) {
        throw ResponseFormatException(std::string("The answer is not a response document. ") +
                                      e.what());
    } catch (const xml::AtlException&) {
        throw ResponseFormatException("The XML library ran out of memory reading the answer.");
    }
}

}  // namespace norvale::quillmark::client
