#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "xml/Element.h"

struct _xmlNode;

namespace xml {

// The result of an XPath selection, in document order. Failures throw NodeListException.
class NodeList {
public:
    NodeList(const Document* document, std::vector<_xmlNode*> nodes)
        : _document(document), _nodes(std::move(nodes)) {}

    std::size_t count() const { return _nodes.size(); }
    // Fails for an index out of range and for a node that is not an element (text, attribute).
    Element item(std::size_t index) const;

private:
    const Document* _document;
    std::vector<_xmlNode*> _nodes;
};

}  // namespace xml
