#pragma once

#include <memory>
#include <string>
#include <vector>

struct _xmlDoc;
struct _xmlNode;
struct _xmlXPathContext;
struct _xmlXPathObject;

namespace xml {

// The prefixes a document offers to its XPath expressions, declared with a text of the form
// "xmlns:qm='http://...'" (several declarations separated by white space, either quote).
// Belongs to one document (and the trees it loads) and is used by the thread that uses it.
class SelectionNamespaces {
public:
    struct ResultDeleter {
        void operator()(_xmlXPathObject* result) const;
    };
    // A selection's outcome, owning its node set.
    using Result = std::unique_ptr<_xmlXPathObject, ResultDeleter>;

    SelectionNamespaces();
    ~SelectionNamespaces();
    SelectionNamespaces(const SelectionNamespaces&) = delete;
    SelectionNamespaces& operator=(const SelectionNamespaces&) = delete;

    // Replaces the declarations; returns false and keeps the old ones when the text is not a
    // list of prefixed namespace declarations.
    bool assign(const std::string& declarations);

    // Evaluates `expression` with `context` as context node; the node set, sorted in document
    // order, stays owned by the result. Null when the expression is not valid XPath 1.0 or
    // does not yield a node set. Throws AtlException when the library fails to allocate.
    Result select(_xmlDoc* document, _xmlNode* context, const std::string& expression) const;

private:
    struct Binding {
        std::string prefix;
        std::string uri;
    };
    struct ContextDeleter {
        void operator()(_xmlXPathContext* context) const;
    };

    // The evaluation context with the bindings registered, made on the first selection and
    // kept: making one registers every XPath function anew, which costs more than most
    // selections themselves. Forgotten when the bindings change.
    _xmlXPathContext* context(_xmlDoc* document) const;

    std::vector<Binding> _bindings;
    mutable std::unique_ptr<_xmlXPathContext, ContextDeleter> _context;
};

}  // namespace xml
