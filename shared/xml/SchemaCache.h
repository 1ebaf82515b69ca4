#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "xml/XMLExceptions.h"

struct _xmlDoc;
struct _xmlSchema;

namespace xml {

class Document;

// An identity constraint (xs:key, xs:keyref, xs:unique) of a schema as its document declares
// it, every prefixed name written "{namespace}local".
struct IdentityConstraint {
    std::string kind;  // "key", "keyref" or "unique"
    std::string name;
    std::string refer;    // keyref only
    std::string element;  // the global element declaring it; empty for a local one
    std::string selector;
    std::vector<std::string> fields;

    bool operator==(const IdentityConstraint&) const = default;
};

// Whether a validation evaluates the schema's identity constraints. Evaluating them costs more
// than the rest of a large document's validation; a caller that checks the same rules in its own
// way may leave them out.
enum class IdentityConstraints { Checked, LeftOut };

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
    // that namespace; a schema with identity constraints is compiled a second time without
    // them. Throws SchemaCacheException ("Error adding schema." and the compiler's
    // report) when the document is no valid schema or declares another target namespace.
    void add(const std::string& targetNamespace, const Document& schema);

    // The schema of `targetNamespace`, or null; with LeftOut, the schema compiled without its
    // identity constraints.
    _xmlSchema* find(const std::string& targetNamespace,
                     IdentityConstraints constraints = IdentityConstraints::Checked) const;

    // The identity constraints of the schema of `targetNamespace` in document order; empty for
    // an unknown namespace.
    const std::vector<IdentityConstraint>& identityConstraints(
        const std::string& targetNamespace) const;

    // The CRC-32 of the text the schema of `targetNamespace` was loaded from; 0 for an unknown
    // namespace. Tells a caller that relies on one schema's exact rules whether it is loaded.
    std::uint32_t sourceChecksum(const std::string& targetNamespace) const;

private:
    struct Entry;

    // Each compiled schema keeps a private copy of its document alive: compiled components
    // point into that tree, and compiling rearranges it.
    std::map<std::string, std::shared_ptr<Entry>> _schemas;
};

}  // namespace xml
