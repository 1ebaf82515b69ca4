#include "xml/SelectionNamespaces.h"

#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cerrno>
#include <memory>
#include <string_view>

#include "xml/XMLExceptions.h"

namespace xml {

namespace {

const xmlChar* chars(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

constexpr std::string_view Xmlns = "xmlns:";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool startsName(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool continuesName(char c) {
    return startsName(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// Compilation and evaluation errors are reported by the caller's own message; without a handler
// on the context the library would print them on the process's standard error.
void ignoreXPathError(void*, xmlError*) {}

}  // namespace

SelectionNamespaces::SelectionNamespaces() = default;

SelectionNamespaces::~SelectionNamespaces() = default;

void SelectionNamespaces::ResultDeleter::operator()(_xmlXPathObject* result) const {
    xmlXPathFreeObject(result);
}

void SelectionNamespaces::ContextDeleter::operator()(_xmlXPathContext* context) const {
    xmlXPathFreeContext(context);
}

bool SelectionNamespaces::assign(const std::string& declarations) {
    // Each declaration: blanks, "xmlns:", a prefix, blanks, '=', blanks, a non-empty URI in
    // single or double quotes; then only blanks.
    std::vector<Binding> bindings;
    const std::size_t size = declarations.size();
    std::size_t at = 0;
    const auto skipBlanks = [&] {
        while (at < size && isBlank(declarations[at])) ++at;
    };
    for (skipBlanks(); at < size; skipBlanks()) {
        if (declarations.compare(at, Xmlns.size(), Xmlns) != 0) return false;
        at += Xmlns.size();
        const std::size_t prefix = at;
        if (at == size || !startsName(declarations[at])) return false;
        while (at < size && continuesName(declarations[at])) ++at;
        const std::size_t prefixEnd = at;
        skipBlanks();
        if (at == size || declarations[at] != '=') return false;
        ++at;
        skipBlanks();
        if (at == size || (declarations[at] != '\'' && declarations[at] != '"')) return false;
        const std::size_t uri = at + 1;
        const std::size_t uriEnd = declarations.find(declarations[at], uri);
        if (uriEnd == std::string::npos || uriEnd == uri) return false;
        bindings.push_back({declarations.substr(prefix, prefixEnd - prefix),
                            declarations.substr(uri, uriEnd - uri)});
        at = uriEnd + 1;
    }
    _bindings = std::move(bindings);
    _context.reset();
    return true;
}

SelectionNamespaces::Result SelectionNamespaces::select(_xmlDoc* document, _xmlNode* context,
                                                        const std::string& expression) const {
    xmlXPathContext* xpath = this->context(document);
    // Everything an evaluation reads from the context besides the bindings is set afresh, as a
    // new context would have it.
    xpath->doc = document;
    xpath->node = context;
    xpath->contextSize = -1;
    xpath->proximityPosition = -1;
    // Nesting and operation counts start at zero in a new context. The library puts them back
    // after each evaluation, failed ones included, but a count carried over from one selection
    // would make later ones fail, so the reused context does not rely on that.
    xpath->depth = 0;
    xpath->opCount = 0;
    Result result(xmlXPathEvalExpression(chars(expression), xpath));
    if (!result || result->type != XPATH_NODESET) return nullptr;
    if (result->nodesetval != nullptr) xmlXPathNodeSetSort(result->nodesetval);
    return result;
}

_xmlXPathContext* SelectionNamespaces::context(_xmlDoc* document) const {
    if (_context) return _context.get();
    std::unique_ptr<xmlXPathContext, ContextDeleter> made(xmlXPathNewContext(document));
    if (!made) throw AtlException(ENOMEM);
    made->error = ignoreXPathError;
    for (const Binding& binding : _bindings) {
        if (xmlXPathRegisterNs(made.get(), chars(binding.prefix), chars(binding.uri)) != 0) {
            throw AtlException(ENOMEM);
        }
    }
    _context = std::move(made);
    return _context.get();
}

}  // namespace xml
