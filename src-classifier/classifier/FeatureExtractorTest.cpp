#include "classifier/FeatureExtractor.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "classifier/KeywordExtractor.h"

namespace norvale::classifier {
namespace {

using Features = std::map<std::string, std::uint32_t>;

// The features of each extractor version, and the words of the keyword extractor.
TEST(FeatureExtractorTest, FeaturesOfEachVersionAndKeywordWords) {
    using Extractor = std::shared_ptr<const FeatureExtractor>;
    const Extractor v3 = createFeatureExtractor(3), v4 = createFeatureExtractor(4),
                    v5 = createFeatureExtractor(5), v6 = createFeatureExtractor(6),
                    v7 = createFeatureExtractor(7);
    const Extractor words = std::make_shared<KeywordExtractor>(30, false);
    const Extractor folded = std::make_shared<KeywordExtractor>(30, true);
    const std::string q30(30, 'q');
    const std::string capitalADiaeresis = "\xC3\x84";
    const struct {
        Extractor extractor;
        std::string text;
        Features expected;
    } cases[] = {
        {v3, "", {}},
        {v3, "   ", {}},
        {v4, " \r\n\t ", {}},
        {v5, " .!\n\r\t()/", {}},
        {v6, "..//!!", {}},
        {v7, "12, 3.!?", {}},
        {v3, "a a a", {{"a", 3}}},
        // Version 3 splits on spaces only and keeps case.
        {v3, "  Word word   a.b\tc\nd ", {{"Word", 1}, {"word", 1}, {"a.b\tc\nd", 1}}},
        // Long runs are cut to 30 bytes and scanning goes on after the whole run.
        {v3, std::string(40, 'q') + " x", {{q30, 1}, {"x", 1}}},
        {v5, std::string(40, 'q'), {{q30, 1}, {"qqqqqq", 1}}},
        {v6, std::string(40, 'q'), {{q30, 1}}},
        {v5,
         "Hello world, again!",
         {{"hello", 1}, {"world,", 1}, {"hello wo", 1}, {"again", 1}, {"world, a", 1}}},
        // Version 4 keeps dots and bangs inside tokens.
        {v4, "The end.", {{"the", 1}, {"end.", 1}, {"the end.", 1}}},
        {v5, "The end.", {{"the", 1}, {"end", 1}, {"the end", 1}}},
        {v4, "a(b)c/d!", {{"a(b)c/d!", 1}, {"a(b)c/", 1}}},
        {v6, "a(b)c/d!", {{"a", 1}, {"b", 1}, {"c", 1}, {"d", 1}}},
        // Word pairs need a previous token of at most 6 bytes and 5 to 8 bytes in all.
        {v5, "a b", {{"a", 1}, {"b", 1}}},
        {v5, "ab cd", {{"ab", 1}, {"cd", 1}, {"ab cd", 1}}},
        {v4, "sixsix next", {{"sixsix", 1}, {"next", 1}, {"sixsix n", 1}}},
        {v5, "seventh word", {{"seventh", 1}, {"sevent", 1}, {"word", 1}}},
        {v5,
         "a bcdefghij x",
         {{"a", 1}, {"bcdefghij", 1}, {"a bcdefg", 1}, {"bcdefg", 1}, {"x", 1}}},
        {v5, "To\r\n\tbe. (to) / be", {{"to", 2}, {"be", 2}, {"to be", 2}, {"be to", 1}}},
        // Only ASCII letters are lower-cased.
        {v6, capitalADiaeresis + "RA", {{capitalADiaeresis + "ra", 1}}},
        {v6, "@[`{", {{"@[`{", 1}}},
        {v7, capitalADiaeresis + "BC ", {{capitalADiaeresis + "bc", 1}}},
        // Version 7: windows of 4 bytes over the text with every other byte run as one space.
        {v7, "Abc, de", {{"abc ", 1}, {"bc d", 1}}},
        {v7, "abcd", {}},
        {v7, "abcde", {{"abcd", 1}}},
        {v7,
         "9 Don't1, 2\xE9x",
         {{" don", 1}, {"don'", 1}, {"on't", 1}, {"n't ", 1}, {"'t \xE9", 1}}},
        {v7, "ab\tab\nab\r\n", {{"ab a", 2}, {"b ab", 2}, {" ab ", 1}}},
        // Keywords: whole words between separators, none with bytes that need escaping.
        {words, "  a\na\ra\ta,a.a!a?a:a;a\"a a.", {{"a", 12}}},
        {words, "(x)/y-z \xC3\x84rger Word", {{"(x)/y-z", 1}, {"\xC3\x84rger", 1}, {"Word", 1}}},
        {words,
         "don't a<b a>b R&D kept bell\x07 nul" + std::string(1, '\0') + "x \x1f",
         {{"kept", 1}}},
        {folded, "Word WORD \xC3\x84X", {{"word", 2}, {"\xC3\x84x", 1}}},
        {std::make_shared<KeywordExtractor>(4, false),
         "abcdefgh abcd xy abcdef&",
         {{"abcd", 2}, {"xy", 1}}},
    };
    for (const auto& c : cases) {
        FeatureCounts counts;
        c.extractor->extract(c.text, counts);
        EXPECT_EQ(c.expected, Features(counts.begin(), counts.end())) << c.text;
    }
}

}  // namespace
}  // namespace norvale::classifier
