#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml/XMLExceptions.h"

struct _xmlNode;

namespace xml {

class LoadedTree;
class NodeList;

// One element of a parsed document; cheap to copy. It shares ownership of the tree, so it stays
// valid after its Document loads another text or is destroyed. Text crosses this interface as
// UTF-8. Failures throw ElementException.
class Element {
public:
    // `node` is an element of `tree`.
    Element(std::shared_ptr<const LoadedTree> tree, _xmlNode* node)
        : _tree(std::move(tree)), _node(node) {}

    // The value of the attribute with this qualified name; fails when it is absent.
    std::string getAttribute(const std::string& name) const;
    bool attributeExists(const std::string& name) const;
    // "true"/"TRUE" and "false"/"FALSE"; any other value fails.
    bool getBooleanAttribute(const std::string& name) const;

    // The concatenated text of the element and its descendants.
    std::string getText() const;
    // The name as written, with its prefix if it has one ("classify", "qm:classify").
    std::string getTagName() const;
    // True when the element's namespace is `namespaceUri` and its name without prefix is
    // `localName`: what the XPath step "p:localName" matches with p bound to the namespace.
    bool isNamed(std::string_view namespaceUri, std::string_view localName) const;

    // The child elements in document order, found by walking the tree (no XPath).
    std::vector<Element> childElements() const;

    // Nodes matching `xpath` evaluated with this element as context, in document order.
    NodeList selectNodes(const std::string& xpath) const;
    Element selectExactlyOne(const std::string& xpath) const;

private:
    std::shared_ptr<const LoadedTree> _tree;
    _xmlNode* _node;
};

}  // namespace xml
