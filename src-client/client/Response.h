#pragma once

// A response document of the server as the client reads it: the status, and the results of
// the read and write calls in document order. Plain values; texts are the server's bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace norvale::quillmark::client {

struct ClassProbability {
    std::string className;
    double p = 0;
};

struct ClassifyResult {
    std::string id;
    // Present for protocol versions above 1.00.
    std::optional<double> textCoverage;
    std::vector<ClassProbability> classes;
};

struct KeywordEntry {
    std::string text;
    std::string className;
    double p = 0;
};

struct KeywordsResult {
    std::string id;
    std::vector<KeywordEntry> keywords;
};

struct ClassStatistics {
    std::string className;
    std::uint64_t uniqueFeatures = 0;
    std::uint64_t totalCount = 0;
};

struct InformationResult {
    std::string id;
    std::vector<ClassStatistics> classes;
};

using ReadResult = std::variant<ClassifyResult, KeywordsResult, InformationResult>;

struct WriteResult {
    std::string call;  // the call's element name, "create", "train", ...
    std::string id;
};

struct Response {
    bool success = false;
    int statusCode = 0;
    // The status element's text: empty on success, the error message otherwise.
    std::string message;
    std::string version;
    std::vector<ReadResult> readResults;
    std::vector<WriteResult> writeResults;

    // The read result of type T with this call id, or null. The result at `hint` is tried
    // first: the server answers calls in the order they were asked, so a caller that walks its
    // calls in order finds each at once instead of scanning every result before it.
    template <typename T>
    const T* find(const std::string& id, std::size_t hint = 0) const {
        if (hint < readResults.size()) {
            const T* typed = std::get_if<T>(&readResults[hint]);
            if (typed != nullptr && typed->id == id) return typed;
        }
        for (const ReadResult& result : readResults) {
            const T* typed = std::get_if<T>(&result);
            if (typed != nullptr && typed->id == id) return typed;
        }
        return nullptr;
    }
};

}  // namespace norvale::quillmark::client
