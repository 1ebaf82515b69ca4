#pragma once

#include <map>
#include <memory>
#include <string>

#include "xml/XMLExceptions.h"

struct _xmlDoc;
struct _xmlSchema;

namespace xml {

class Document;

// Compiled XSD schemas keyed by target namespace. Filled once at start-up by one thread with
// add(); afterwards it is only read, and any number of threads may validate documents against
// it at once (each validation uses its own validation context).
class SchemaCache {
public:
    SchemaCache();
    ~SchemaCache();

    SchemaCache(const SchemaCache&) = delete;
    SchemaCache& operator=(const SchemaCache&) = delete;

    // Compiles the loaded schema document for `targetNamespace`, replacing an earlier schema of
    // that namespace. Throws SchemaCacheException ("Error adding schema." and the compiler's
    // report) when the document is no valid schema or declares another target namespace.
    void add(const std::string& targetNamespace, const Document& schema);

    // The schema of `targetNamespace`, or null.
    _xmlSchema* find(const std::string& targetNamespace) const;

private:
    struct Entry;

    // Each compiled schema keeps a private copy of its document alive: compiled components
    // point into that tree, and compiling rearranges it.
    std::map<std::string, std::shared_ptr<Entry>> _schemas;
};

}  // namespace xml
