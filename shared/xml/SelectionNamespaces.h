#pragma once

#include <string>
#include <vector>

struct _xmlDoc;
struct _xmlNode;

namespace xml {

// The prefixes a document offers to its XPath expressions, declared with a text of the form
// "xmlns:qm='http://...'" (several declarations separated by white space, either quote).
class SelectionNamespaces {
public:
    // Replaces the declarations; returns false and keeps the old ones when the text is not a
    // list of prefixed namespace declarations.
    bool assign(const std::string& declarations);

    // Evaluates `expression` with `context` as context node and appends the matching nodes to
    // `nodes` in document order. Returns false when the expression is not valid XPath 1.0 or
    // does not yield a node-set. Throws AtlException when the library fails to allocate.
    bool select(_xmlDoc* document, _xmlNode* context, const std::string& expression,
                std::vector<_xmlNode*>& nodes) const;

private:
    struct Binding {
        std::string prefix;
        std::string uri;
    };

    std::vector<Binding> _bindings;
};

}  // namespace xml
