#include "xml/SchemaCache.h"

#include <libxml/schemasInternals.h>
#include <libxml/xmlschemas.h>

#include <cerrno>

#include "xml/ComInitializer.h"
#include "xml/Document.h"
#include "xml/ParseError.h"

namespace xml {

namespace {

const char* const AddFailure = "Error adding schema.";

struct ParserContextDeleter {
    void operator()(xmlSchemaParserCtxt* context) const { xmlSchemaFreeParserCtxt(context); }
};

}  // namespace

struct SchemaCache::Entry {
    ~Entry() {
        if (schema != nullptr) xmlSchemaFree(schema);
        if (document != nullptr) xmlFreeDoc(document);
    }

    xmlDoc* document = nullptr;
    xmlSchema* schema = nullptr;
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
    entry->document = xmlCopyDoc(schema.document(), 1);
    if (entry->document == nullptr) throw AtlException(ENOMEM);

    std::unique_ptr<xmlSchemaParserCtxt, ParserContextDeleter> parser(
        xmlSchemaNewDocParserCtxt(entry->document));
    if (!parser) throw AtlException(ENOMEM);
    ParseError error;
    xmlSchemaSetParserStructuredErrors(parser.get(), ParseError::collect, &error);
    entry->schema = xmlSchemaParse(parser.get());
    if (entry->schema == nullptr || !error.empty()) {
        if (error.empty()) error.record(0, 0, 0, "The schema could not be compiled.");
        throw SchemaCacheException(std::string(AddFailure) + "\n\n" + error.text(schema._source));
    }
    const char* declared = reinterpret_cast<const char*>(entry->schema->targetNamespace);
    if (targetNamespace != (declared ? declared : "")) {
        throw SchemaCacheException(std::string(AddFailure) + " The schema declares the target " +
                                   "namespace '" + (declared ? declared : "") + "', not '" +
                                   targetNamespace + "'.");
    }
    _schemas[targetNamespace] = std::move(entry);
}

_xmlSchema* SchemaCache::find(const std::string& targetNamespace) const {
    auto found = _schemas.find(targetNamespace);
    return found == _schemas.end() ? nullptr : found->second->schema;
}

}  // namespace xml
