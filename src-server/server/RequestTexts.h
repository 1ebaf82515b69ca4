#pragma once

// The texts of one request, indexed once by id so that every call finds its text in constant
// time: for each id the first `text` and the first `textBase64` element, in document order,
// among the children of the root's `texts` elements in the request namespace. Ids are compared
// as literal strings; nothing of a request ever becomes part of an XPath expression. Belongs to
// one request on one thread; the elements share the request's parsed tree.

#include <optional>
#include <string>
#include <unordered_map>

#include "xml/Element.h"

namespace norvale::quillmark {

class RequestTexts {
public:
    RequestTexts(const xml::Element& root, const std::string& requestNamespace);

    // The text with this id: the content of its `text` element or, without one, of its
    // `textBase64` element Base64-decoded. Throws InternalCallException when no element has the
    // id or the encoded one carries a prefix, and the decoder's exception for invalid Base64.
    std::string lookup(const std::string& textId) const;

private:
    struct Texts {
        std::optional<xml::Element> plain;
        std::optional<xml::Element> encoded;
    };

    std::unordered_map<std::string, Texts> _byId;
};

}  // namespace norvale::quillmark
