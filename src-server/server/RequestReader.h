#pragma once

// A request as plain data, which is what XmlClassifier runs. A request of the usual shape
// (requestShape) is read in one pass over its text, without a tree; any other request is read
// from its parsed and validated tree. Both give the same data for a request of that shape, so
// that every answer is the same whichever way a request is read.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/RequestTexts.h"
#include "xml/Element.h"

namespace norvale::quillmark {

// An element's name as written (prefix included) and the attributes a request's elements have.
struct RequestElement {
    std::string tagName;
    std::vector<std::pair<std::string, std::string>> attributes;

    bool attributeExists(std::string_view name) const;
    // Throws xml::ElementException when the attribute is absent, as xml::Element does.
    const std::string& getAttribute(const std::string& name) const;
    const std::string& getTagName() const { return tagName; }

    // The same name and attributes, in any order.
    bool operator==(const RequestElement& other) const;
};

// A `readCalls` or `writeCalls` element and its calls in document order.
struct RequestCalls {
    RequestElement element;
    std::vector<RequestElement> calls;

    bool operator==(const RequestCalls&) const = default;
};

struct Request {
    RequestElement root;
    RequestTexts texts;
    // Present when the root has exactly one such element.
    std::optional<RequestCalls> readCalls;
    std::optional<RequestCalls> writeCalls;

    bool operator==(const Request&) const = default;
};

class RequestReader {
public:
    // The request in `text` when it has the usual shape, every element in `requestNamespace`,
    // no text id twice and every textId naming a text. Nothing for any other request, which is
    // then read through its tree, where it is validated and refused with a report.
    static std::optional<Request> readUsual(std::string_view text,
                                            const std::string& requestNamespace);

    // The request under `root`, the root of a request tree that passed validation, with its
    // texts.
    static Request fromTree(const xml::Element& root, RequestTexts texts,
                            const std::string& requestNamespace);
};

}  // namespace norvale::quillmark
