#include "xml/Element.h"

#include <libxml/tree.h>

#include <cerrno>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/errorresources/SystemErrorText.h"
#include "xml/LoadedTree.h"
#include "xml/NodeList.h"
#include "xml/XmlString.h"

namespace xml {

namespace {

const char* text(const xmlChar* value) {
    return reinterpret_cast<const char*>(value);
}

std::string qualifiedName(const xmlNode* node) {
    std::string name = text(node->name);
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
        name = std::string(text(node->ns->prefix)) + ":" + name;
    }
    return name;
}

// Whether `node` is named `name` as written, prefix included.
bool hasQualifiedName(const xmlNode* node, std::string_view name) {
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
        const std::string_view prefix = text(node->ns->prefix);
        if (name.size() <= prefix.size() || !name.starts_with(prefix) ||
            name[prefix.size()] != ':') {
            return false;
        }
        name.remove_prefix(prefix.size() + 1);
    }
    return name == text(node->name);
}

// Attributes are matched by their name as written, prefix included, as callers spell them.
const xmlAttr* findAttribute(const xmlNode* element, const std::string& name) {
    for (const xmlAttr* attribute = element->properties; attribute != nullptr;
         attribute = attribute->next) {
        if (hasQualifiedName(reinterpret_cast<const xmlNode*>(attribute), name)) return attribute;
    }
    return nullptr;
}

// The text of `first` and the nodes after it when they are all text or CDATA, as the library
// would join it; nothing when another kind of node needs the library's own walk.
std::optional<std::string> plainText(const xmlNode* first) {
    std::string joined;
    for (const xmlNode* node = first; node != nullptr; node = node->next) {
        if (node->type != XML_TEXT_NODE && node->type != XML_CDATA_SECTION_NODE) {
            return std::nullopt;
        }
        if (node->content != nullptr) joined += text(node->content);
    }
    return joined;
}

}  // namespace

std::string Element::getAttribute(const std::string& name) const {
    const xmlAttr* attribute = findAttribute(_node, name);
    if (attribute == nullptr) {
        throw ElementException("Error when getting the attribute '" + name + "' from an element.");
    }
    if (attribute->children == nullptr) return "";
    if (std::optional<std::string> value = plainText(attribute->children)) return std::move(*value);
    const XmlString value(xmlNodeListGetString(_node->doc, attribute->children, 1));
    if (!value) throw AtlException(ENOMEM);
    return text(value.get());
}

bool Element::attributeExists(const std::string& name) const {
    return findAttribute(_node, name) != nullptr;
}

bool Element::getBooleanAttribute(const std::string& name) const {
    const std::string value = getAttribute(name);
    if (value == "true" || value == "TRUE") return true;
    if (value == "false" || value == "FALSE") return false;
    throw ElementException("Error when getting the attribute. '" + name +
                           "' not a boolean. The attribute is set to: '" + value + "'.");
}

std::string Element::getText() const {
    if (std::optional<std::string> content = plainText(_node->children)) {
        return std::move(*content);
    }
    const XmlString content(xmlNodeGetContent(_node));
    if (!content) {
        throw ElementException(
            "Could not get the text from a node in the XML document, using "
            "'Element::getText()'. " +
            platform::errorresources::systemErrorText(ENOMEM));
    }
    return text(content.get());
}

std::string Element::getTagName() const {
    return qualifiedName(_node);
}

bool Element::isNamed(std::string_view namespaceUri, std::string_view localName) const {
    return _node->ns != nullptr && _node->ns->href != nullptr &&
           namespaceUri == text(_node->ns->href) && localName == text(_node->name);
}

std::vector<Element> Element::childElements() const {
    std::vector<Element> children;
    for (xmlNode* child = _node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) children.emplace_back(_tree, child);
    }
    return children;
}

NodeList Element::selectNodes(const std::string& xpath) const {
    std::optional<NodeList> nodes = NodeList::select(_tree, _node, xpath);
    if (!nodes) throw ElementException("Error when selecting nodes with the expression " + xpath);
    return std::move(*nodes);
}

Element Element::selectExactlyOne(const std::string& xpath) const {
    NodeList nodes = selectNodes(xpath);
    if (nodes.count() != 1) {
        throw ElementException("Exactly one element matching the string " + xpath +
                               " is allowed but " + std::to_string(nodes.count()) +
                               " was found.\n");
    }
    return nodes.item(0);
}

}  // namespace xml
