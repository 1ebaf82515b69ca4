#pragma once

#include <span>
#include <string_view>

#include "xml/DocumentShape.h"

namespace xml {

// Reads a document of a known shape in one pass, without building a tree: the parser's events
// go to a handler while the document is checked against the shape (DocumentShape). The parse is
// hardened as Document's is (no DTD, no network, the bound on attributes). A document is read only
// when the parser reports nothing at all and every element fits; anything else (an error, a
// warning, a reference in an attribute value, a text longer than the parser's tree would take) ends
// the reading, and the caller reads the document through Document instead, which reports what it
// finds. Reading therefore only ever admits documents that Document loads, with the same text and
// attribute values.
class ShapeReader {
public:
    struct Attribute {
        std::string_view name;
        std::string_view value;
    };

    // Receives the elements and texts of one document in document order. The views are valid
    // for the call only. Returning false ends the reading: the document counts as not read.
    class Handler {
    public:
        virtual ~Handler() = default;
        // `prefix` is empty for an element written without one.
        virtual bool startElement(const ShapeElement& rule, std::string_view prefix,
                                  std::string_view name, std::span<const Attribute> attributes) = 0;
        // A piece of the text of a Text element, entities resolved, CDATA sections included.
        virtual bool text(std::string_view piece) = 0;
        virtual bool endElement(const ShapeElement& rule) = 0;
    };

    // True when `text` was read whole and fits `shape` with every element in `namespaceUri`.
    // Whatever the handler throws ends the reading and is thrown on from here.
    static bool read(std::string_view text, std::string_view namespaceUri,
                     const DocumentShape& shape, Handler* handler);
};

}  // namespace xml
