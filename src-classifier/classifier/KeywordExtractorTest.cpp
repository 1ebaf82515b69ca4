#include "classifier/KeywordExtractor.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace norvale::classifier {
namespace {

using Words = std::map<std::string, std::uint32_t>;

TEST(KeywordExtractorTest, SplitsCutsFoldsAndDropsWords) {
    struct Case {
        const char* what;
        std::size_t maxTokenSize;
        bool fold;
        std::string text;
        Words expected;
    };
    const std::vector<Case> cases = {
        {"every separator", 30, false, "  a\nb\rc\td,e.f!g?h:i;j\"k l l.",
         {{"a", 1}, {"b", 1}, {"c", 1}, {"d", 1}, {"e", 1}, {"f", 1}, {"g", 1}, {"h", 1},
          {"i", 1}, {"j", 1}, {"k", 1}, {"l", 2}}},
        {"other bytes belong to the word", 30, false, "(x)/y-z \xC3\x84rger",
         {{"(x)/y-z", 1}, {"\xC3\x84rger", 1}}},
        {"separators only", 30, false, " ,.!?\n", {}},
        {"escaping or control bytes", 30, false,
         "don't a<b a>b R&D kept bell\x07 nul" + std::string(1, '\0') + "x \x1f", {{"kept", 1}}},
        {"case kept", 30, false, "Word word", {{"Word", 1}, {"word", 1}}},
        {"only ASCII folded", 30, true, "Word WORD \xC3\x84X", {{"word", 2}, {"\xC3\x84x", 1}}},
        {"cut, but the whole run checked", 4, false, "abcdefgh abcd xy abcdef&",
         {{"abcd", 2}, {"xy", 1}}},
    };
    for (const Case& c : cases) {
        FeatureCounts counts;
        KeywordExtractor(c.maxTokenSize, c.fold).extract(c.text, counts);
        EXPECT_EQ(c.expected, Words(counts.begin(), counts.end())) << c.what;
    }
}

}  // namespace
}  // namespace norvale::classifier
