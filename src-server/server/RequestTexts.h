#pragma once

// The texts of one request, indexed once by id so that every call finds its text in constant
// time: for each id the content of the first `text` and the first `textBase64` element, in
// document order, among the children of the root's `texts` elements in the request namespace.
// Ids are compared as literal strings; nothing of a request ever becomes part of an XPath
// expression. Belongs to one request on one thread.

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "xml/Element.h"
#include "xml/SchemaCache.h"

namespace norvale::quillmark {

class RequestTexts {
public:
    // No texts; add() gives them.
    RequestTexts() = default;
    // The texts of a parsed request.
    RequestTexts(const xml::Element& root, const std::string& requestNamespace);

    // Adds the element `tagName` (as written) with this id and content, a `textBase64` when
    // `encoded`, unless an element of its kind has the id already. False when any element has it.
    bool add(std::string id, bool encoded, std::string tagName, std::string content);
    bool contains(const std::string& textId) const { return _byId.contains(textId); }

    // True when `constraints` are exactly the request schema's text id rules, which
    // referencesResolve() checks: a key on the ids of `text` and `textBase64`, and a key
    // reference from the textId of every text call. Then a request may be validated without
    // them.
    static bool coversConstraints(const std::vector<xml::IdentityConstraint>& constraints,
                                  const std::string& requestNamespace);

    // False when two texts share an id or a call of the root's `readCalls` or `writeCalls` has
    // a textId that no text has.
    bool referencesResolve(const xml::Element& root, const std::string& requestNamespace) const;

    // The text with this id: the content of its `text` element or, without one, of its
    // `textBase64` element Base64-decoded. Throws InternalCallException when no element has the
    // id or the encoded one carries a prefix, and the decoder's exception for invalid Base64.
    std::string lookup(const std::string& textId) const;

    bool operator==(const RequestTexts&) const = default;

private:
    struct Encoded {
        std::string tagName;
        std::string content;
        bool operator==(const Encoded&) const = default;
    };
    struct Texts {
        std::optional<std::string> plain;
        std::optional<Encoded> encoded;
        bool operator==(const Texts&) const = default;
    };

    std::unordered_map<std::string, Texts> _byId;
    bool _repeatedId = false;
};

}  // namespace norvale::quillmark
