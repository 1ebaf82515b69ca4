#pragma once

#include <string>

#include "xml/XMLExceptions.h"

struct _xmlNode;

namespace xml {

class Document;
class NodeList;

// A view of one element of a Document; cheap to copy, valid while its document keeps the
// loaded tree. Text crosses this interface as UTF-8. Failures throw ElementException.
class Element {
public:
    Element(const Document* document, _xmlNode* node) : _document(document), _node(node) {}

    // The value of the attribute with this qualified name; fails when it is absent.
    std::string getAttribute(const std::string& name) const;
    bool attributeExists(const std::string& name) const;
    // "true"/"TRUE" and "false"/"FALSE"; any other value fails.
    bool getBooleanAttribute(const std::string& name) const;

    // The concatenated text of the element and its descendants.
    std::string getText() const;
    // The name as written, with its prefix if it has one ("classify", "qm:classify").
    std::string getTagName() const;

    // Nodes matching `xpath` evaluated with this element as context, in document order.
    NodeList selectNodes(const std::string& xpath) const;
    Element selectExactlyOne(const std::string& xpath) const;

private:
    const Document* _document;
    _xmlNode* _node;
};

}  // namespace xml
