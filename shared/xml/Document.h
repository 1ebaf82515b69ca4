#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "xml/Element.h"
#include "xml/NodeList.h"
#include "xml/SchemaCache.h"
#include "xml/XMLExceptions.h"

struct _xmlDoc;

namespace xml {

class LoadedTree;
class SelectionNamespaces;

// One parsed XML document (a request, a configuration file, a schema). A document is used by
// one thread at a time; any number of documents may be loaded and validated at once on
// different threads, sharing one SchemaCache. Elements and node lists taken from a document
// share its parsed tree (LoadedTree): they stay valid when it is loaded again or destroyed.
//
// Parsing is hardened for untrusted input: no network access, any document type declaration is
// refused before its content is read, so entities are never declared, expanded or fetched from
// files, and a document with an element of more than MaxAttributes attributes (namespace
// declarations included) is refused before the parser sees it, since the parser's cost grows
// with the square of one element's attributes.
class Document {
public:
    static constexpr std::size_t MaxAttributes = 32;

    // The line (from 1) of the first start tag with more than MaxAttributes attributes, 0 when
    // none has; what loading refuses before the parser sees the text.
    static int lineOverAttributeBound(std::string_view text);

    // `schemas` (not owned, may be null) is what validate() checks against; it must outlive
    // the document.
    explicit Document(const SchemaCache* schemas = nullptr);
    ~Document();

    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Binds XPath prefixes, e.g. "xmlns:qm='" + namespace + "'". Throws DocumentException.
    void setSelectionNamespaces(const std::string& declarations);

    // Parse `text` / the file at `path`, replacing any previous content. Throw
    // DocumentException with the parse-error text. The document keeps text (moved in, not copied).
    void loadFromMemory(std::string text);
    void loadFromFile(const std::string& path);

    // Checks the document against the schema of its root's namespace in the schema cache, with
    // or without the schema's identity constraints. Throws ValidateException with the
    // parse-error text of the first violation.
    void validate(IdentityConstraints constraints = IdentityConstraints::Checked) const;

    // The one element matching `xpath` (relative to the document); DocumentException otherwise.
    Element selectExactlyOne(const std::string& xpath) const;
    // The root element, found without XPath; DocumentException when nothing is loaded.
    Element rootElement() const;

    // The root's targetNamespace attribute (schema documents), empty when absent.
    std::string getTargetNamespace() const;

    // The whole document as XML text (UTF-8), empty when nothing is loaded.
    std::string getXml() const;

private:
    friend class SchemaCache;

    void load(std::string text, const char* url, const std::string& failureOpening);
    // The loaded tree's document, null when nothing is loaded.
    _xmlDoc* document() const;

    const SchemaCache* _schemas;
    std::shared_ptr<SelectionNamespaces> _namespaces;
    std::shared_ptr<const LoadedTree> _tree;
    // The loaded text, kept so that error reports can quote the offending line.
    std::string _source;
};

}  // namespace xml
