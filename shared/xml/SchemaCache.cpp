#include "xml/SchemaCache.h"

#include <libxml/schemasInternals.h>
#include <libxml/xmlschemas.h>

#include <boost/crc.hpp>
#include <cerrno>
#include <regex>

#include "xml/ComInitializer.h"
#include "xml/Document.h"
#include "xml/ParseError.h"
#include "xml/XmlString.h"

namespace xml {

namespace {

const char* const AddFailure = "Error adding schema.";

const char* const SchemaNamespace = "http://www.w3.org/2001/XMLSchema";

struct ParserContextDeleter {
    void operator()(xmlSchemaParserCtxt* context) const { xmlSchemaFreeParserCtxt(context); }
};

// A compiled schema and the private copy of its document that its components point into.
struct Compiled {
    Compiled() = default;
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;
    ~Compiled() {
        if (schema != nullptr) xmlSchemaFree(schema);
        if (document != nullptr) xmlFreeDoc(document);
    }

    xmlDoc* document = nullptr;
    xmlSchema* schema = nullptr;
};

bool isSchemaElement(const xmlNode* node, const char* localName) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
           xmlStrEqual(node->ns->href, BAD_CAST SchemaNamespace) &&
           (localName == nullptr || xmlStrEqual(node->name, BAD_CAST localName));
}

bool isIdentityConstraint(const xmlNode* node) {
    return isSchemaElement(node, "key") || isSchemaElement(node, "keyref") ||
           isSchemaElement(node, "unique");
}

// Every identity constraint under `node`, in document order.
void findIdentityConstraints(xmlNode* node, std::vector<xmlNode*>& found) {
    for (xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isIdentityConstraint(child)) {
            found.push_back(child);
        } else if (child->type == XML_ELEMENT_NODE) {
            findIdentityConstraints(child, found);
        }
    }
}

std::string attribute(const xmlNode* node, const char* name) {
    const XmlString value(xmlGetNoNsProp(node, BAD_CAST name));
    return value ? reinterpret_cast<const char*>(value.get()) : "";
}

// `text` with each "prefix:local" written "{namespace}local" as declared at `node`; a prefix
// that is not declared stays as it is, and so does an axis ("child::").
std::string resolvePrefixes(const xmlNode* node, const std::string& text) {
    static const std::regex prefixed("([A-Za-z_][A-Za-z0-9_.\\-]*):(?!:)");
    std::string resolved;
    std::size_t copied = 0;
    for (auto match = std::sregex_iterator(text.begin(), text.end(), prefixed);
         match != std::sregex_iterator(); ++match) {
        const std::size_t at = static_cast<std::size_t>(match->position(0));
        const xmlNs* ns =
            xmlSearchNs(node->doc, const_cast<xmlNode*>(node), BAD_CAST match->str(1).c_str());
        if (ns == nullptr || ns->href == nullptr) continue;
        resolved.append(text, copied, at - copied);
        resolved += '{';
        resolved += reinterpret_cast<const char*>(ns->href);
        resolved += '}';
        copied = at + static_cast<std::size_t>(match->length(0));
    }
    return resolved.append(text, copied);
}

IdentityConstraint describe(const xmlNode* node) {
    IdentityConstraint constraint;
    constraint.kind = reinterpret_cast<const char*>(node->name);
    constraint.name = attribute(node, "name");
    constraint.refer = resolvePrefixes(node, attribute(node, "refer"));
    const xmlNode* declaration = node->parent;
    if (isSchemaElement(declaration, "element") && isSchemaElement(declaration->parent, "schema")) {
        constraint.element = attribute(declaration, "name");
    }
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isSchemaElement(child, "selector")) {
            constraint.selector = resolvePrefixes(child, attribute(child, "xpath"));
        } else if (isSchemaElement(child, "field")) {
            constraint.fields.push_back(resolvePrefixes(child, attribute(child, "xpath")));
        }
    }
    return constraint;
}

// Compiles a copy of `source`, whose text `sourceText` serves the error report; with
// `dropConstraints`, the copy loses its identity constraints first.
void compile(const std::string& sourceText, xmlDoc* source, bool dropConstraints,
             Compiled& compiled) {
    compiled.document = xmlCopyDoc(source, 1);
    if (compiled.document == nullptr) throw AtlException(ENOMEM);
    if (dropConstraints) {
        std::vector<xmlNode*> constraints;
        findIdentityConstraints(reinterpret_cast<xmlNode*>(compiled.document), constraints);
        for (xmlNode* constraint : constraints) {
            xmlUnlinkNode(constraint);
            xmlFreeNode(constraint);
        }
    }
    std::unique_ptr<xmlSchemaParserCtxt, ParserContextDeleter> parser(
        xmlSchemaNewDocParserCtxt(compiled.document));
    if (!parser) throw AtlException(ENOMEM);
    ParseError error;
    xmlSchemaSetParserStructuredErrors(parser.get(), ParseError::collect, &error);
    compiled.schema = xmlSchemaParse(parser.get());
    if (compiled.schema == nullptr || !error.empty()) {
        if (error.empty()) error.record(0, 0, 0, "The schema could not be compiled.");
        throw SchemaCacheException(std::string(AddFailure) + "\n\n" + error.text(sourceText));
    }
}

}  // namespace

struct SchemaCache::Entry {
    Compiled full;
    // Null when the schema has no identity constraints.
    std::unique_ptr<Compiled> withoutConstraints;
    std::vector<IdentityConstraint> constraints;
    std::uint32_t sourceChecksum = 0;
};

SchemaCache::SchemaCache() {
    ComInitializer::initialiseLibrary();
}

SchemaCache::~SchemaCache() = default;

void SchemaCache::add(const std::string& targetNamespace, const Document& schema) {
    if (schema.document() == nullptr) {
        throw SchemaCacheException(std::string(AddFailure) + " The schema document is empty.");
    }
    auto entry = std::make_shared<Entry>();
    boost::crc_32_type crc;
    crc.process_bytes(schema._source.data(), schema._source.size());
    entry->sourceChecksum = crc.checksum();
    compile(schema._source, schema.document(), false, entry->full);
    const char* declared = reinterpret_cast<const char*>(entry->full.schema->targetNamespace);
    if (targetNamespace != (declared ? declared : "")) {
        throw SchemaCacheException(std::string(AddFailure) + " The schema declares the target " +
                                   "namespace '" + (declared ? declared : "") + "', not '" +
                                   targetNamespace + "'.");
    }
    std::vector<xmlNode*> constraints;
    findIdentityConstraints(reinterpret_cast<xmlNode*>(schema.document()), constraints);
    for (const xmlNode* constraint : constraints)
        entry->constraints.push_back(describe(constraint));
    if (!constraints.empty()) {
        // A schema that does not compile without them is only ever validated in full.
        try {
            entry->withoutConstraints = std::make_unique<Compiled>();
            compile(schema._source, schema.document(), true, *entry->withoutConstraints);
        } catch (const SchemaCacheException&) {
            entry->withoutConstraints.reset();
        }
    }
    _schemas[targetNamespace] = std::move(entry);
}

_xmlSchema* SchemaCache::find(const std::string& targetNamespace,
                              IdentityConstraints constraints) const {
    auto found = _schemas.find(targetNamespace);
    if (found == _schemas.end()) return nullptr;
    const Entry& entry = *found->second;
    if (constraints == IdentityConstraints::LeftOut && entry.withoutConstraints) {
        return entry.withoutConstraints->schema;
    }
    return entry.full.schema;
}

std::uint32_t SchemaCache::sourceChecksum(const std::string& targetNamespace) const {
    auto found = _schemas.find(targetNamespace);
    return found == _schemas.end() ? 0 : found->second->sourceChecksum;
}

const std::vector<IdentityConstraint>& SchemaCache::identityConstraints(
    const std::string& targetNamespace) const {
    static const std::vector<IdentityConstraint> none;
    auto found = _schemas.find(targetNamespace);
    return found == _schemas.end() ? none : found->second->constraints;
}

}  // namespace xml
