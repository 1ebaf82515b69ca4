#include "xml/NodeList.h"

#include <libxml/xpath.h>

#include "xml/LoadedTree.h"

namespace xml {

std::optional<NodeList> NodeList::select(std::shared_ptr<const LoadedTree> tree, _xmlNode* context,
                                         const std::string& xpath) {
    if (!tree) return NodeList(nullptr, nullptr);
    SelectionNamespaces::Result result =
        tree->namespaces().select(tree->document(), context, xpath);
    if (!result) return std::nullopt;
    return NodeList(std::move(tree), std::move(result));
}

std::size_t NodeList::count() const {
    if (!_result || _result->nodesetval == nullptr) return 0;
    return static_cast<std::size_t>(_result->nodesetval->nodeNr);
}

Element NodeList::item(std::size_t index) const {
    if (index >= count() || _result->nodesetval->nodeTab[index]->type != XML_ELEMENT_NODE) {
        throw NodeListException("Error when getting the node from the nodelist.");
    }
    return Element(_tree, _result->nodesetval->nodeTab[index]);
}

}  // namespace xml
