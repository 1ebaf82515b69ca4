#include "client/ResultWriter.h"

#include <algorithm>
#include <tuple>

namespace norvale::quillmark::client {

std::vector<ClassProbability> byProbability(std::vector<ClassProbability> classes) {
    std::stable_sort(classes.begin(), classes.end(),
                     [](const ClassProbability& a, const ClassProbability& b) {
                         return std::tie(b.p, a.className) < std::tie(a.p, b.className);
                     });
    return classes;
}

std::vector<KeywordEntry> byProbability(std::vector<KeywordEntry> keywords) {
    std::stable_sort(
        keywords.begin(), keywords.end(), [](const KeywordEntry& a, const KeywordEntry& b) {
            return std::tie(b.p, a.className, a.text) < std::tie(a.p, b.className, b.text);
        });
    return keywords;
}

}  // namespace norvale::quillmark::client
