#pragma once

// One parsed document as everything taken from it holds it: the tree and the prefixes it is
// searched with. The Document that parsed it, and every Element and NodeList taken from it,
// share ownership, so none of them can point into a freed tree, whichever of them goes first or
// whatever the document loads next. Used by the thread that uses the document.

#include <memory>

struct _xmlDoc;

namespace xml {

class SelectionNamespaces;

class LoadedTree {
public:
    struct DocDeleter {
        void operator()(_xmlDoc* document) const;
    };
    using OwnedDoc = std::unique_ptr<_xmlDoc, DocDeleter>;

    LoadedTree(OwnedDoc document, std::shared_ptr<const SelectionNamespaces> namespaces)
        : _document(std::move(document)), _namespaces(std::move(namespaces)) {}

    _xmlDoc* document() const { return _document.get(); }
    const SelectionNamespaces& namespaces() const { return *_namespaces; }

private:
    OwnedDoc _document;
    std::shared_ptr<const SelectionNamespaces> _namespaces;
};

}  // namespace xml
