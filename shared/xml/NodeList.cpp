#include "xml/NodeList.h"

#include <libxml/tree.h>

namespace xml {

Element NodeList::item(std::size_t index) const {
    if (index >= _nodes.size() || _nodes[index]->type != XML_ELEMENT_NODE) {
        throw NodeListException("Error when getting the node from the nodelist.");
    }
    return Element(_document, _nodes[index]);
}

}  // namespace xml
