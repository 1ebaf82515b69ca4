#pragma once

// A narrow description of documents a schema accepts, checked while a document is read
// (ShapeReader), so that a caller may skip the tree and the schema validator for the documents it
// sees most. It only ever admits: a document that fits the shape must be one the schema accepts,
// while anything the shape does not describe (another attribute, a qualified one, a comment in
// a text, a child element out of place) does not fit, and the caller validates as usual. Element
// names are unique in a shape and every element is in the shape's one namespace; attributes are
// unqualified. Plain constant data, so a shape can be a constexpr table.

#include <span>
#include <string_view>

namespace xml {

struct ShapeAttribute {
    std::string_view name;
    bool required = false;
    // Whether a value is certainly valid; null when every value is.
    bool (*valid)(std::string_view value) = nullptr;
};

struct ShapeElement {
    enum class Content {
        Empty,    // nothing at all, not even white space
        Text,     // text and CDATA only
        Children  // the listed elements, white space, comments and processing instructions
    };

    std::string_view name;
    Content content = Content::Empty;
    std::span<const ShapeAttribute> attributes;
    // Children only: the names of the elements it may contain, in any order and number. An
    // element whose list has more than 64 names never fits.
    std::span<const std::string_view> children;
    bool eachChildOnce = false;  // no child name twice
    bool childRequired = false;  // at least one child element
};

struct DocumentShape {
    std::string_view root;
    std::span<const ShapeElement> elements;

    // The element of this name; null when the shape has none.
    constexpr const ShapeElement* find(std::string_view name) const {
        for (const ShapeElement& element : elements) {
            if (element.name == name) return &element;
        }
        return nullptr;
    }
};

}  // namespace xml
