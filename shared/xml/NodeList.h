#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "xml/Element.h"
#include "xml/SelectionNamespaces.h"

struct _xmlNode;

namespace xml {

class LoadedTree;

// The result of an XPath selection, in document order. It owns the selection's node set (which
// may hold nodes the selection made, namespace nodes, freed with it) and shares the tree the
// selection ran on, so an item can never be read after either is freed. Failures throw
// NodeListException.
class NodeList {
public:
    // The nodes matching `xpath` with `context` (a node of `tree`, or the document itself) as
    // context node; nothing when `xpath` is not valid XPath 1.0 or yields no node set.
    static std::optional<NodeList> select(std::shared_ptr<const LoadedTree> tree, _xmlNode* context,
                                          const std::string& xpath);

    std::size_t count() const;
    // Fails for an index out of range and for a node that is not an element (text, attribute).
    Element item(std::size_t index) const;

private:
    NodeList(std::shared_ptr<const LoadedTree> tree, SelectionNamespaces::Result result)
        : _tree(std::move(tree)), _result(std::move(result)) {}

    // Declared first, destroyed last: the node set points into the tree.
    std::shared_ptr<const LoadedTree> _tree;
    SelectionNamespaces::Result _result;
};

}  // namespace xml
