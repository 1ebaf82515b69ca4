#include "xml/SelectionNamespaces.h"

#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cerrno>
#include <memory>
#include <regex>

#include "xml/XMLExceptions.h"

namespace xml {

namespace {

const xmlChar* chars(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
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
    static const std::regex declaration(
        R"re(\s*xmlns:([A-Za-z_][A-Za-z0-9_.\-]*)\s*=\s*(?:'([^']*)'|"([^"]*)"))re");
    static const std::regex trailingSpace(R"(\s*)");
    std::vector<Binding> bindings;
    auto position = declarations.cbegin();
    std::smatch match;
    while (std::regex_search(position, declarations.cend(), match, declaration,
                             std::regex_constants::match_continuous)) {
        std::string uri = match[2].matched ? match[2].str() : match[3].str();
        if (uri.empty()) return false;
        bindings.push_back({match[1].str(), std::move(uri)});
        position = match[0].second;
    }
    if (!std::regex_match(position, declarations.cend(), trailingSpace)) return false;
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
