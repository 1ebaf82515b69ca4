#pragma once

// Request documents of the product's protocol for corpus texts, as a client writes them. Texts
// travel as textBase64, so every byte of a corpus text reaches the classifier unchanged whatever
// it holds (markup characters, control bytes). Class and classifier names are written as they
// are: the corpus labels are plain words. Holds no state after construction; any thread may
// use one.

#include <span>
#include <string>
#include <vector>

#include "corpus/CorpusFile.h"
#include "util/Base64Encoder.h"

namespace bench::load {

class CorpusRequests {
public:
    CorpusRequests(std::string requestNamespace, const util::Base64Encoder* base64)
        : _namespace(std::move(requestNamespace)), _base64(base64) {}

    // create, then one addClass per label.
    std::string create(const std::string& classifier, const std::vector<std::string>& labels) const;
    // One train call per text, each into the class of its label, all in one transaction.
    std::string train(const std::string& classifier,
                      std::span<const corpus::LabelledText> texts) const;
    std::string classify(const std::string& classifier, const std::string& text) const;
    std::string classifyKeywords(const std::string& classifier, const std::string& text) const;
    std::string getInformation(const std::string& classifier) const;

private:
    std::string document(const std::string& body) const;
    std::string text(const std::string& id, const std::string& bytes) const;

    std::string _namespace;
    const util::Base64Encoder* _base64;
};

// The first targetNamespace attribute of a schema document's text; empty when it has none.
std::string targetNamespaceOf(const std::string& schemaText);

// The className of the largest p among the class elements of a classify answer, the first in
// document order among equals; empty when the answer holds no class element.
std::string bestClassOf(const std::string& answer);

}  // namespace bench::load
