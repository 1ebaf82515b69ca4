#include "xml/ShapeReader.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "xml/ComInitializer.h"
#include "xml/Document.h"

namespace xml {

namespace {

// As Document parses, less the option that only shapes the tree.
constexpr int ReadOptions = XML_PARSE_NONET | XML_PARSE_BIG_LINES;

struct ParserContextDeleter {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

std::string_view chars(const xmlChar* value) {
    return value != nullptr ? reinterpret_cast<const char*>(value) : "";
}

std::string_view chars(const xmlChar* begin, const xmlChar* end) {
    return {reinterpret_cast<const char*>(begin), static_cast<std::size_t>(end - begin)};
}

// The library reports some failures (input the declared encoding cannot convert, say) to the
// thread's generic handler, which writes to standard error. A reading keeps quiet: the tree
// reports them when the document is read again.
class QuietGenericErrors {
public:
    QuietGenericErrors() : _handler(xmlGenericError), _context(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, ignore);
    }
    ~QuietGenericErrors() { xmlSetGenericErrorFunc(_context, _handler); }

    QuietGenericErrors(const QuietGenericErrors&) = delete;
    QuietGenericErrors& operator=(const QuietGenericErrors&) = delete;

private:
    static void ignore(void*, const char*, ...) {}

    xmlGenericErrorFunc _handler;
    void* _context;
};

bool isWhiteSpace(std::string_view text) {
    return text.find_first_not_of(" \t\n\r") == std::string_view::npos;
}

// One reading: the open elements and what the handler is told. Every parser callback finds it
// through the parser context (its SAX user data) and ends the parse at the first thing that does
// not fit.
class Reading {
public:
    Reading(std::string_view namespaceUri, const DocumentShape& shape,
            ShapeReader::Handler* handler)
        : _namespace(namespaceUri), _shape(shape), _handler(handler) {}

    static Reading& of(void* context) {
        return *static_cast<Reading*>(static_cast<xmlParserCtxt*>(context)->_private);
    }

    // Runs one step of the reading; a step that returns false or throws ends the parse.
    template <typename Step>
    void step(void* context, Step&& body) {
        if (!_fits) return;
        try {
            if (body()) return;
        } catch (...) {
            _failure = std::current_exception();
        }
        refuse(context);
    }

    void refuse(void* context) {
        _fits = false;
        xmlStopParser(static_cast<xmlParserCtxt*>(context));
    }

    bool start(std::string_view prefix, std::string_view name, std::string_view uri,
               int attributeCount, int defaulted, const xmlChar** attributes) {
        const ShapeElement* rule = _shape.find(name);
        if (rule == nullptr || uri != _namespace || defaulted != 0) return false;
        if (_open.empty()) {
            if (name != _shape.root || _rootRead) return false;
            _rootRead = true;
        } else if (!admitChild(_open.back(), name)) {
            return false;
        }
        if (!readAttributes(*rule, attributeCount, attributes)) return false;
        _open.push_back({rule});
        return _handler->startElement(*rule, prefix, name, _attributes);
    }

    bool end() {
        const Open closed = _open.back();
        _open.pop_back();
        if (closed.rule->content == ShapeElement::Content::Children && !closed.anyChild &&
            closed.rule->childRequired) {
            return false;
        }
        return _handler->endElement(*closed.rule);
    }

    // Text, white space and CDATA sections; the tree would keep at most XML_MAX_TEXT_LENGTH
    // bytes in one text node, so an element with more text is left to it.
    bool characters(std::string_view text, bool cdata) {
        if (_open.empty()) return true;
        Open& element = _open.back();
        element.textBytes += text.size();
        if (element.textBytes > XML_MAX_TEXT_LENGTH) return false;
        switch (element.rule->content) {
            case ShapeElement::Content::Empty:
                return false;
            case ShapeElement::Content::Text:
                return _handler->text(text);
            case ShapeElement::Content::Children:
                return !cdata && isWhiteSpace(text);
        }
        return false;
    }

    // Comments and processing instructions: outside the root and among child elements only.
    bool aside() const {
        return _open.empty() || _open.back().rule->content == ShapeElement::Content::Children;
    }

    bool read(const xmlParserCtxt& parser) const {
        if (_failure) std::rethrow_exception(_failure);
        return _fits && parser.wellFormed != 0 && _rootRead && _open.empty();
    }

private:
    struct Open {
        const ShapeElement* rule;
        std::uint64_t seen = 0;
        bool anyChild = false;
        std::size_t textBytes = 0;
    };

    bool admitChild(Open& parent, std::string_view name) const {
        const ShapeElement& rule = *parent.rule;
        if (rule.content != ShapeElement::Content::Children || rule.children.size() > 64) {
            return false;
        }
        const auto allowed = std::find(rule.children.begin(), rule.children.end(), name);
        if (allowed == rule.children.end()) return false;
        const std::uint64_t bit = std::uint64_t{1} << (allowed - rule.children.begin());
        if (rule.eachChildOnce && (parent.seen & bit) != 0) return false;
        parent.seen |= bit;
        parent.anyChild = true;
        return true;
    }

    // Unqualified, described and valid, every required one present. A value with a reference
    // in it is left to the tree, which resolves it.
    bool readAttributes(const ShapeElement& rule, int count, const xmlChar** attributes) {
        _attributes.clear();
        std::size_t required = 0;
        for (int i = 0; i < count; ++i) {
            const xmlChar** attribute = attributes + 5 * i;
            if (attribute[1] != nullptr) return false;
            const std::string_view name = chars(attribute[0]);
            const std::string_view value = chars(attribute[3], attribute[4]);
            const auto match = std::find_if(
                rule.attributes.begin(), rule.attributes.end(),
                [&](const ShapeAttribute& candidate) { return candidate.name == name; });
            if (match == rule.attributes.end() || value.find('&') != std::string_view::npos ||
                (match->valid != nullptr && !match->valid(value))) {
                return false;
            }
            required += match->required ? 1 : 0;
            _attributes.push_back({name, value});
        }
        for (const ShapeAttribute& attribute : rule.attributes) {
            required -= attribute.required ? 1 : 0;
        }
        return required == 0;
    }

    std::string_view _namespace;
    const DocumentShape& _shape;
    ShapeReader::Handler* _handler;
    std::vector<Open> _open;
    std::vector<ShapeReader::Attribute> _attributes;
    bool _rootRead = false;
    bool _fits = true;
    std::exception_ptr _failure;
};

void startElement(void* context, const xmlChar* name, const xmlChar* prefix, const xmlChar* uri,
                  int, const xmlChar**, int attributeCount, int defaulted,
                  const xmlChar** attributes) {
    Reading& reading = Reading::of(context);
    reading.step(context, [&] {
        return uri != nullptr && reading.start(chars(prefix), chars(name), chars(uri),
                                               attributeCount, defaulted, attributes);
    });
}

void endElement(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    Reading& reading = Reading::of(context);
    reading.step(context, [&] { return reading.end(); });
}

void characters(void* context, const xmlChar* text, int length) {
    Reading& reading = Reading::of(context);
    reading.step(context, [&] { return reading.characters(chars(text, text + length), false); });
}

void cdataBlock(void* context, const xmlChar* text, int length) {
    Reading& reading = Reading::of(context);
    reading.step(context, [&] { return reading.characters(chars(text, text + length), true); });
}

void comment(void* context, const xmlChar*) {
    Reading& reading = Reading::of(context);
    reading.step(context, [&] { return reading.aside(); });
}

void processingInstruction(void* context, const xmlChar*, const xmlChar*) {
    comment(context, nullptr);
}

// A document type declaration, an entity reference left unresolved or any report of the parser:
// the tree reports it.
void refuseDeclaration(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    Reading::of(context).refuse(context);
}

void refuseReference(void* context, const xmlChar*) {
    Reading::of(context).refuse(context);
}

void refuseReport(void* context, xmlError*) {
    Reading::of(context).refuse(context);
}

xmlSAXHandler readingHandler() {
    xmlSAXHandler handler{};
    handler.initialized = XML_SAX2_MAGIC;
    handler.startElementNs = startElement;
    handler.endElementNs = endElement;
    handler.characters = characters;
    // The same function, so that the parser never tells white space apart.
    handler.ignorableWhitespace = characters;
    handler.cdataBlock = cdataBlock;
    handler.comment = comment;
    handler.processingInstruction = processingInstruction;
    handler.internalSubset = refuseDeclaration;
    handler.reference = refuseReference;
    handler.serror = refuseReport;
    return handler;
}

}  // namespace

bool ShapeReader::read(std::string_view text, std::string_view namespaceUri,
                       const DocumentShape& shape, Handler* handler) {
    if (text.size() > INT_MAX || Document::lineOverAttributeBound(text) != 0) return false;
    ComInitializer::initialiseLibrary();
    std::unique_ptr<xmlParserCtxt, ParserContextDeleter> parser(xmlNewParserCtxt());
    if (!parser) return false;
    static const xmlSAXHandler reading = readingHandler();
    *parser->sax = reading;
    Reading state(namespaceUri, shape, handler);
    parser->_private = &state;
    const QuietGenericErrors quiet;
    xmlDoc* document = xmlCtxtReadMemory(parser.get(), text.data(), static_cast<int>(text.size()),
                                         nullptr, nullptr, ReadOptions);
    if (document != nullptr) xmlFreeDoc(document);
    return state.read(*parser);
}

}  // namespace xml
