#include "xml/SelectionNamespaces.h"

#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cerrno>
#include <memory>
#include <regex>

#include "xml/XMLExceptions.h"

namespace xml {

namespace {

struct ContextDeleter {
    void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};

struct ObjectDeleter {
    void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};

const xmlChar* chars(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

// Compilation and evaluation errors are reported by the caller's own message; without a handler
// on the context the library would print them on the process's standard error.
void ignoreXPathError(void*, xmlError*) {}

}  // namespace

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
    return true;
}

bool SelectionNamespaces::select(_xmlDoc* document, _xmlNode* context,
                                 const std::string& expression,
                                 std::vector<_xmlNode*>& nodes) const {
    if (document == nullptr) return true;
    std::unique_ptr<xmlXPathContext, ContextDeleter> xpath(xmlXPathNewContext(document));
    if (!xpath) throw AtlException(ENOMEM);
    xpath->error = ignoreXPathError;
    xpath->node = context;
    for (const Binding& binding : _bindings) {
        if (xmlXPathRegisterNs(xpath.get(), chars(binding.prefix), chars(binding.uri)) != 0) {
            throw AtlException(ENOMEM);
        }
    }
    std::unique_ptr<xmlXPathObject, ObjectDeleter> result(
        xmlXPathEvalExpression(chars(expression), xpath.get()));
    if (!result || result->type != XPATH_NODESET) return false;
    xmlNodeSet* set = result->nodesetval;
    if (set == nullptr) return true;
    xmlXPathNodeSetSort(set);
    nodes.insert(nodes.end(), set->nodeTab, set->nodeTab + set->nodeNr);
    return true;
}

}  // namespace xml
