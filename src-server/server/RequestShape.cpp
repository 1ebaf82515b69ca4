#include "server/RequestShape.h"

#include <string_view>

namespace norvale::quillmark::requestShape {

namespace {

using Content = xml::ShapeElement::Content;

// The two protocol versions as clients write them; other spellings of the same numbers
// ("1.010") are left to the validator.
bool isVersion(std::string_view value) {
    return value == "1.00" || value == "1.01";
}

// An xs:int of at most nine digits, so that it cannot leave the type's range.
bool isShortInt(std::string_view value) {
    if (value.starts_with('-')) value.remove_prefix(1);
    if (value.empty() || value.size() > 9) return false;
    for (const char c : value) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

constexpr xml::ShapeAttribute RootAttributes[] = {{"version", true, isVersion}};
constexpr xml::ShapeAttribute TextAttributes[] = {{"id", true}};
constexpr xml::ShapeAttribute TextCallAttributes[] = {
    {"id", true}, {"classifierName", true, isClassifierName}, {"textId", true}};
constexpr xml::ShapeAttribute ClassifierCallAttributes[] = {
    {"id", true}, {"classifierName", true, isClassifierName}};
constexpr xml::ShapeAttribute WriteCallsAttributes[] = {{"classifierName", true, isClassifierName},
                                                        {"maxSize", false, isShortInt}};
constexpr xml::ShapeAttribute WriteCallAttributes[] = {{"id", true}};
constexpr xml::ShapeAttribute ClassCallAttributes[] = {{"id", true}, {"className", true}};
constexpr xml::ShapeAttribute TrainCallAttributes[] = {
    {"id", true}, {"className", true}, {"textId", true}};

constexpr std::string_view RootChildren[] = {"texts", "readCalls", "writeCalls"};
constexpr std::string_view TextsChildren[] = {"text", "textBase64"};
constexpr std::string_view ReadCalls[] = {"classify", "classifyKeywords", "getInformation"};
constexpr std::string_view WriteCalls[] = {"create",      "remove", "addClass",
                                           "removeClass", "train",  "untrain"};

constexpr xml::ShapeElement Elements[] = {
    {"quillmark", Content::Children, RootAttributes, RootChildren, true, false},
    {"texts", Content::Children, {}, TextsChildren, false, false},
    {"text", Content::Text, TextAttributes, {}, false, false},
    {"textBase64", Content::Text, TextAttributes, {}, false, false},
    {"readCalls", Content::Children, {}, ReadCalls, false, true},
    {"classify", Content::Empty, TextCallAttributes, {}, false, false},
    {"classifyKeywords", Content::Empty, TextCallAttributes, {}, false, false},
    {"getInformation", Content::Empty, ClassifierCallAttributes, {}, false, false},
    {"writeCalls", Content::Children, WriteCallsAttributes, WriteCalls, false, true},
    {"create", Content::Empty, WriteCallAttributes, {}, false, false},
    {"remove", Content::Empty, WriteCallAttributes, {}, false, false},
    {"addClass", Content::Empty, ClassCallAttributes, {}, false, false},
    {"removeClass", Content::Empty, ClassCallAttributes, {}, false, false},
    {"train", Content::Empty, TrainCallAttributes, {}, false, false},
    {"untrain", Content::Empty, TrainCallAttributes, {}, false, false},
};

}  // namespace

const xml::DocumentShape Shape{"quillmark", Elements};

bool isClassifierName(std::string_view value) {
    if (value.empty() || value.size() > 100 || value.front() == '.') return false;
    for (const char c : value) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!allowed) return false;
    }
    return true;
}

}  // namespace norvale::quillmark::requestShape
