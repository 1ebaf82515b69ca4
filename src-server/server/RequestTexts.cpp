#include "server/RequestTexts.h"

#include "server/CallException.h"
#include "util/Base64DecoderImpl.h"

namespace norvale::quillmark {

RequestTexts::RequestTexts(const xml::Element& root, const std::string& requestNamespace) {
    for (const xml::Element& texts : root.childElements()) {
        if (!texts.isNamed(requestNamespace, "texts")) continue;
        for (const xml::Element& text : texts.childElements()) {
            const bool plain = text.isNamed(requestNamespace, "text");
            if (!plain && !text.isNamed(requestNamespace, "textBase64")) continue;
            if (!text.attributeExists("id")) continue;
            add(text.getAttribute("id"), !plain, plain ? "" : text.getTagName(), text.getText());
        }
    }
}

// The first element of a kind keeps its place; later ones with the same id are never used.
bool RequestTexts::add(std::string id, bool encoded, std::string tagName, std::string content) {
    const auto [found, added] = _byId.try_emplace(std::move(id));
    Texts& texts = found->second;
    if (encoded && !texts.encoded) {
        texts.encoded.emplace(Encoded{std::move(tagName), std::move(content)});
    }
    if (!encoded && !texts.plain) texts.plain.emplace(std::move(content));
    _repeatedId = _repeatedId || !added;
    return added;
}

bool RequestTexts::coversConstraints(const std::vector<xml::IdentityConstraint>& constraints,
                                     const std::string& requestNamespace) {
    const std::string qm = "{" + requestNamespace + "}";
    const std::vector<xml::IdentityConstraint> covered = {
        {"key",
         "textIds",
         "",
         "quillmark",
         qm + "texts/" + qm + "text | " + qm + "texts/" + qm + "textBase64",
         {"@id"}},
        {"keyref",
         "textReferences",
         qm + "textIds",
         "quillmark",
         qm + "readCalls/" + qm + "classify | " + qm + "readCalls/" + qm + "classifyKeywords | " +
             qm + "writeCalls/" + qm + "train | " + qm + "writeCalls/" + qm + "untrain",
         {"@textId"}},
    };
    return constraints == covered;
}

bool RequestTexts::referencesResolve(const xml::Element& root,
                                     const std::string& requestNamespace) const {
    if (_repeatedId) return false;
    for (const xml::Element& calls : root.childElements()) {
        if (!calls.isNamed(requestNamespace, "readCalls") &&
            !calls.isNamed(requestNamespace, "writeCalls")) {
            continue;
        }
        for (const xml::Element& call : calls.childElements()) {
            if (call.attributeExists("textId") && !_byId.contains(call.getAttribute("textId"))) {
                return false;
            }
        }
    }
    return true;
}

std::string RequestTexts::lookup(const std::string& textId) const {
    const auto found = _byId.find(textId);
    if (found != _byId.end() && found->second.plain) return *found->second.plain;
    if (found == _byId.end() || !found->second.encoded) {
        throw InternalCallException("No text with the id '" + textId + "' was found.");
    }
    const Encoded& encoded = *found->second.encoded;
    if (encoded.tagName != "textBase64") {
        throw InternalCallException("Unrecognized text element name " + encoded.tagName + ". " +
                                    "textBase64" + " was expected.");
    }
    return util::Base64DecoderImpl().decode(encoded.content);
}

}  // namespace norvale::quillmark
