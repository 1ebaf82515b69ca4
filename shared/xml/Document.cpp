#include "xml/Document.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/errorresources/SystemErrorText.h"
#include "xml/ComInitializer.h"
#include "xml/LoadedTree.h"
#include "xml/NodeList.h"
#include "xml/ParseError.h"
#include "xml/SchemaCache.h"
#include "xml/SelectionNamespaces.h"
#include "xml/XmlString.h"

namespace xml {

namespace {

// No network, line numbers beyond 65535 kept for error reports. Entity substitution and DTD
// loading stay off; a DOCTYPE is refused outright (see refuseDocumentType). Text nodes of fewer
// than 16 bytes (most attribute values of a request) keep their text inside the node, which
// saves an allocation and a free each; such a tree must never be changed, and none is.
constexpr int ParseOptions = XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_COMPACT;

struct ParserContextDeleter {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

struct ValidContextDeleter {
    void operator()(xmlSchemaValidCtxt* context) const { xmlSchemaFreeValidCtxt(context); }
};

// Skips from `from` past the next `end`; text.size() when there is none.
std::size_t after(std::string_view text, std::size_t from, std::string_view end) {
    const std::size_t found = text.find(end, from);
    return found == std::string_view::npos ? text.size() : found + end.size();
}

}  // namespace

// Counts the '=' outside quoted values of each start tag; comments, CDATA sections, processing
// instructions, declarations and end tags are skipped. Linear in the text; malformed text is
// left to the parser. Lines are counted only up to the tag it reports.
int Document::lineOverAttributeBound(std::string_view text) {
    constexpr std::size_t bound = MaxAttributes;
    std::size_t i = 0;
    while ((i = text.find('<', i)) != std::string_view::npos) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("<!--")) {
            i = after(text, i + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            i = after(text, i + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            i = after(text, i + 2, "?>");
        } else if (rest.starts_with("<!") || rest.starts_with("</")) {
            i = after(text, i + 2, ">");
        } else {
            const std::size_t tag = i;
            std::size_t attributes = 0;
            for (++i; i < text.size() && text[i] != '>'; ++i) {
                const char c = text[i];
                if (c == '"' || c == '\'') {
                    i = text.find(c, i + 1);
                    if (i == std::string_view::npos) return 0;
                } else if (c == '=' && ++attributes > bound) {
                    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + tag, '\n'));
                }
            }
        }
    }
    return 0;
}

namespace {

// Called by the parser at "<!DOCTYPE", before an internal subset or an external DTD is read.
// Stopping here means no entity is ever declared, so neither expansion bombs nor external
// entities (file or network) can happen.
void refuseDocumentType(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* parser = static_cast<xmlParserCtxt*>(context);
    static_cast<ParseError*>(parser->_private)
        ->record(XML_ERR_USER_STOP, xmlSAX2GetLineNumber(parser), xmlSAX2GetColumnNumber(parser),
                 "DTD is not allowed. A document type declaration was found.");
    xmlStopParser(parser);
}

// The parser hands its structured handler the parser context itself (its SAX user data).
void collectParserError(void* context, xmlError* error) {
    ParseError::collect(static_cast<xmlParserCtxt*>(context)->_private, error);
}

std::string readFile(const std::string& path, ParseError& error) {
    // A folder opens as a stream and reads as nothing, which the parser would call an empty
    // document.
    std::error_code unknown;
    if (std::filesystem::is_directory(path, unknown)) {
        error.record(
            0, 0, 0,
            "The file could not be read. " + platform::errorresources::systemErrorText(EISDIR));
        return "";
    }
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    if (file) content << file.rdbuf();
    if (!file || file.bad()) {
        const int code = errno;
        error.record(0, 0, 0,
                     "The file could not be read. " +
                         platform::errorresources::systemErrorText(code != 0 ? code : ENOENT));
    }
    return content.str();
}

std::string validationTarget(const xmlDoc* document) {
    const xmlNode* root = xmlDocGetRootElement(document);
    if (root == nullptr || root->ns == nullptr || root->ns->href == nullptr) return "";
    return reinterpret_cast<const char*>(root->ns->href);
}

}  // namespace

void LoadedTree::DocDeleter::operator()(_xmlDoc* document) const {
    xmlFreeDoc(document);
}

Document::Document(const SchemaCache* schemas)
    : _schemas(schemas), _namespaces(std::make_shared<SelectionNamespaces>()) {
    ComInitializer::initialiseLibrary();
}

Document::~Document() = default;

_xmlDoc* Document::document() const {
    return _tree ? _tree->document() : nullptr;
}

void Document::setSelectionNamespaces(const std::string& declarations) {
    if (!_namespaces->assign(declarations)) {
        throw DocumentException("Error when trying to set the schemas for a document.");
    }
}

void Document::loadFromMemory(std::string text) {
    load(std::move(text), nullptr, "Error when loading the XML document from the memory.");
}

void Document::loadFromFile(const std::string& path) {
    const std::string opening = "Error when loading the XML document " + path;
    ParseError error;
    std::string text = readFile(path, error);
    if (!error.empty()) {
        _tree.reset();
        _source.clear();
        throw DocumentException(opening + "\n\n" + error.text(""));
    }
    load(std::move(text), path.c_str(), opening);
}

void Document::load(std::string text, const char* url, const std::string& failureOpening) {
    _tree.reset();
    _source = std::move(text);
    ParseError error;
    if (_source.size() > INT_MAX) {
        error.record(XML_ERR_NO_MEMORY, 0, 0, "The document is larger than 2147483647 bytes.");
        throw DocumentException(failureOpening + "\n\n" + error.text(""));
    }
    if (const int line = lineOverAttributeBound(_source); line != 0) {
        error.record(0, line, 0,
                     "An element has more than " + std::to_string(MaxAttributes) +
                         " attributes; no document read here may have that many.");
        throw DocumentException(failureOpening + "\n\n" + error.text(_source));
    }
    std::unique_ptr<xmlParserCtxt, ParserContextDeleter> parser(xmlNewParserCtxt());
    if (!parser) throw AtlException(ENOMEM);
    parser->_private = &error;
    parser->sax->serror = collectParserError;
    parser->sax->internalSubset = refuseDocumentType;
    LoadedTree::OwnedDoc document(xmlCtxtReadMemory(parser.get(), _source.data(),
                                                    static_cast<int>(_source.size()), url, nullptr,
                                                    ParseOptions));
    if (!document || !error.empty() || document->intSubset != nullptr ||
        document->extSubset != nullptr) {
        if (error.empty()) error.record(parser->errNo, 0, 0, "The document could not be parsed.");
        throw DocumentException(failureOpening + "\n\n" + error.text(_source));
    }
    _tree = std::make_shared<const LoadedTree>(std::move(document), _namespaces);
}

void Document::validate(IdentityConstraints constraints) const {
    static const std::string opening = "Problems validating the xml document.\r\n";
    ParseError error;
    const std::string target = _tree ? validationTarget(document()) : "";
    xmlSchema* schema = _schemas != nullptr ? _schemas->find(target, constraints) : nullptr;
    if (!_tree) {
        error.record(0, 0, 0, "No document is loaded.");
    } else if (schema == nullptr) {
        error.record(0, 0, 0,
                     "No schema is known for the namespace '" + target + "' of the root element.");
    } else {
        std::unique_ptr<xmlSchemaValidCtxt, ValidContextDeleter> validator(
            xmlSchemaNewValidCtxt(schema));
        if (!validator) throw AtlException(ENOMEM);
        xmlSchemaSetValidStructuredErrors(validator.get(), ParseError::collect, &error);
        const int result = xmlSchemaValidateDoc(validator.get(), document());
        if (result == 0 && error.empty()) return;
        if (error.empty()) error.record(result, 0, 0, "The document could not be validated.");
    }
    throw ValidateException(opening + error.text(_source));
}

Element Document::selectExactlyOne(const std::string& xpath) const {
    const std::optional<NodeList> nodes =
        NodeList::select(_tree, reinterpret_cast<xmlNode*>(document()), xpath);
    if (!nodes) {
        throw DocumentException("Error when selecting nodes with the expression " + xpath);
    }
    if (nodes->count() != 1) {
        throw DocumentException("Exactly one element matching the string " + xpath +
                                " is allowed but " + std::to_string(nodes->count()) +
                                " was found.\n");
    }
    return nodes->item(0);
}

Element Document::rootElement() const {
    xmlNode* root = _tree ? xmlDocGetRootElement(document()) : nullptr;
    if (root == nullptr) throw DocumentException("The document has no root element.");
    return Element(_tree, root);
}

std::string Document::getTargetNamespace() const {
    const xmlNode* root = _tree ? xmlDocGetRootElement(document()) : nullptr;
    if (root == nullptr) return "";
    const XmlString value(
        xmlGetNoNsProp(root, reinterpret_cast<const xmlChar*>("targetNamespace")));
    if (!value) return "";
    return reinterpret_cast<const char*>(value.get());
}

std::string Document::getXml() const {
    if (!_tree) return "";
    xmlChar* buffer = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(document(), &buffer, &size, "UTF-8");
    const XmlString owned(buffer);
    if (!owned) throw AtlException(ENOMEM);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size));
}

}  // namespace xml
