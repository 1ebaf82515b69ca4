#include "server/RequestTexts.h"

#include "server/CallException.h"
#include "util/Base64DecoderImpl.h"

namespace norvale::quillmark {

namespace {

// The first element of a kind keeps its place; later ones with the same id are never used.
void keepFirst(std::optional<xml::Element>& slot, const xml::Element& element) {
    if (!slot) slot.emplace(element);
}

}  // namespace

RequestTexts::RequestTexts(const xml::Element& root, const std::string& requestNamespace) {
    for (const xml::Element& texts : root.childElements()) {
        if (!texts.isNamed(requestNamespace, "texts")) continue;
        for (const xml::Element& text : texts.childElements()) {
            const bool plain = text.isNamed(requestNamespace, "text");
            if (!plain && !text.isNamed(requestNamespace, "textBase64")) continue;
            if (!text.attributeExists("id")) continue;
            Texts& found = _byId[text.getAttribute("id")];
            keepFirst(plain ? found.plain : found.encoded, text);
        }
    }
}

std::string RequestTexts::lookup(const std::string& textId) const {
    const auto found = _byId.find(textId);
    if (found != _byId.end() && found->second.plain) return found->second.plain->getText();
    if (found == _byId.end() || !found->second.encoded) {
        throw InternalCallException("No text with the id '" + textId + "' was found.");
    }
    const xml::Element& element = *found->second.encoded;
    const std::string tag = element.getTagName();
    if (tag != "textBase64") {
        throw InternalCallException("Unrecognized text element name " + tag + ". " +
                                    "textBase64" + " was expected.");
    }
    return util::Base64DecoderImpl().decode(element.getText());
}

}  // namespace norvale::quillmark
