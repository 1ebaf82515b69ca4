#pragma once

// The texts of one request, indexed once by id so that every call finds its text in constant
// time: for each id the first `text` and the first `textBase64` element, in document order,
// among the children of the root's `texts` elements in the request namespace. Ids are compared
// as literal strings; nothing of a request ever becomes part of an XPath expression. Belongs to
// one request on one thread; the elements share the request's parsed tree.

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "xml/Element.h"
#include "xml/SchemaCache.h"

namespace norvale::quillmark {

class RequestTexts {
public:
    RequestTexts(const xml::Element& root, const std::string& requestNamespace);

    // True when `constraints` are exactly the request schema's text id rules, which
    // referencesResolve() checks: a key on the ids of `text` and `textBase64`, and a key
    // reference from the textId of every text call. Then a request may be validated without
    // them.
    static bool coversConstraints(const std::vector<xml::IdentityConstraint>& constraints,
                                  const std::string& requestNamespace);

    // False when two texts share an id or a call of the root's `readCalls` or `writeCalls` has
    // a textId that no text has.
    bool referencesResolve(const xml::Element& root) const;

    // The text with this id: the content of its `text` element or, without one, of its
    // `textBase64` element Base64-decoded. Throws InternalCallException when no element has the
    // id or the encoded one carries a prefix, and the decoder's exception for invalid Base64.
    std::string lookup(const std::string& textId) const;

private:
    struct Texts {
        std::optional<xml::Element> plain;
        std::optional<xml::Element> encoded;
    };

    std::string _namespace;
    std::unordered_map<std::string, Texts> _byId;
    bool _repeatedId = false;
};

}  // namespace norvale::quillmark
