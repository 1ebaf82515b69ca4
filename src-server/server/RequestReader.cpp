#include "server/RequestReader.h"

#include <algorithm>

#include "server/RequestShape.h"
#include "xml/ShapeReader.h"
#include "xml/XMLExceptions.h"

namespace norvale::quillmark {

namespace {

// Every attribute an element of a request is read for.
constexpr const char* AttributeNames[] = {"version", "id",        "classifierName",
                                          "textId",  "className", "maxSize"};

RequestElement fromElement(const xml::Element& element) {
    RequestElement read{element.getTagName(), {}};
    for (const char* name : AttributeNames) {
        if (element.attributeExists(name)) {
            read.attributes.emplace_back(name, element.getAttribute(name));
        }
    }
    return read;
}

// The calls elements of one name under the root; kept only when there is exactly one.
std::optional<RequestCalls> callsFromTree(const xml::Element& root, const std::string& name,
                                          const std::string& requestNamespace) {
    std::optional<RequestCalls> found;
    bool repeated = false;
    for (const xml::Element& child : root.childElements()) {
        if (!child.isNamed(requestNamespace, name)) continue;
        if (found) repeated = true;
        found.emplace(RequestCalls{fromElement(child), {}});
        for (const xml::Element& call : child.childElements()) {
            found->calls.push_back(fromElement(call));
        }
    }
    if (repeated) found.reset();
    return found;
}

std::string qualifiedName(std::string_view prefix, std::string_view name) {
    std::string qualified;
    if (!prefix.empty()) {
        qualified.reserve(prefix.size() + 1 + name.size());
        qualified.append(prefix).push_back(':');
    }
    qualified.append(name);
    return qualified;
}

// Builds the request from the reader's events; the shape guarantees the nesting, so an element
// is placed by its name alone.
class UsualRequest : public xml::ShapeReader::Handler {
public:
    bool startElement(const xml::ShapeElement& rule, std::string_view prefix, std::string_view name,
                      std::span<const xml::ShapeReader::Attribute> attributes) override {
        RequestElement element{qualifiedName(prefix, name), {}};
        element.attributes.reserve(attributes.size());
        for (const auto& [attribute, value] : attributes) {
            element.attributes.emplace_back(attribute, value);
        }
        if (name == "quillmark") {
            request.root = std::move(element);
        } else if (name == "readCalls" || name == "writeCalls") {
            std::optional<RequestCalls>& calls =
                name == "readCalls" ? request.readCalls : request.writeCalls;
            calls.emplace(RequestCalls{std::move(element), {}});
            _calls = &calls->calls;
        } else if (rule.content == xml::ShapeElement::Content::Text) {
            _text = std::move(element);
            _content.clear();
        } else if (name != "texts") {
            _calls->push_back(std::move(element));
        }
        return true;
    }

    bool text(std::string_view piece) override {
        _content.append(piece);
        return true;
    }

    bool endElement(const xml::ShapeElement& rule) override {
        if (rule.content != xml::ShapeElement::Content::Text) return true;
        const bool encoded = rule.name == "textBase64";
        return request.texts.add(_text.getAttribute("id"), encoded,
                                 encoded ? std::move(_text.tagName) : std::string(),
                                 std::move(_content));
    }

    Request request;

private:
    std::vector<RequestElement>* _calls = nullptr;
    RequestElement _text;
    std::string _content;
};

bool referencesResolve(const RequestTexts& texts, const std::optional<RequestCalls>& calls) {
    if (!calls) return true;
    return std::all_of(calls->calls.begin(), calls->calls.end(), [&](const RequestElement& call) {
        return !call.attributeExists("textId") || texts.contains(call.getAttribute("textId"));
    });
}

}  // namespace

bool RequestElement::attributeExists(std::string_view name) const {
    return std::any_of(attributes.begin(), attributes.end(),
                       [&](const auto& attribute) { return attribute.first == name; });
}

const std::string& RequestElement::getAttribute(const std::string& name) const {
    for (const auto& [attribute, value] : attributes) {
        if (attribute == name) return value;
    }
    throw xml::ElementException("Error when getting the attribute '" + name + "' from an element.");
}

bool RequestElement::operator==(const RequestElement& other) const {
    return tagName == other.tagName && attributes.size() == other.attributes.size() &&
           std::all_of(attributes.begin(), attributes.end(), [&](const auto& attribute) {
               return other.attributeExists(attribute.first) &&
                      other.getAttribute(attribute.first) == attribute.second;
           });
}

std::optional<Request> RequestReader::readUsual(std::string_view text,
                                                const std::string& requestNamespace) {
    UsualRequest reading;
    if (!xml::ShapeReader::read(text, requestNamespace, requestShape::Shape, &reading)) {
        return std::nullopt;
    }
    Request& request = reading.request;
    if (!referencesResolve(request.texts, request.readCalls) ||
        !referencesResolve(request.texts, request.writeCalls)) {
        return std::nullopt;
    }
    return std::move(request);
}

Request RequestReader::fromTree(const xml::Element& root, RequestTexts texts,
                                const std::string& requestNamespace) {
    return Request{fromElement(root), std::move(texts),
                   callsFromTree(root, "readCalls", requestNamespace),
                   callsFromTree(root, "writeCalls", requestNamespace)};
}

}  // namespace norvale::quillmark
