#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "classifier/FeatureExtractor.h"

namespace norvale::classifier {
namespace {

using Features = std::map<std::string, std::uint32_t>;

TEST(FeatureExtractorTest, FeaturesOfEachVersion) {
    struct Case {
        std::uint32_t version;
        std::string text;
        Features expected;
    };
    const std::string q30(30, 'q');
    const std::string capitalADiaeresis = "\xC3\x84";
    const std::vector<Case> cases = {
        {3, "", {}},
        {3, "   ", {}},
        {4, " \r\n\t ", {}},
        {5, " .!\n\r\t()/", {}},
        {6, "..//!!", {}},
        {7, "12, 3.!?", {}},
        {3, "a a a", {{"a", 3}}},
        // Version 3 splits on spaces only and keeps case.
        {3, "  Word word   a.b\tc\nd ", {{"Word", 1}, {"word", 1}, {"a.b\tc\nd", 1}}},
        // Long runs are cut to 30 bytes and scanning goes on after the whole run.
        {3, std::string(40, 'q') + " x", {{q30, 1}, {"x", 1}}},
        {5, std::string(40, 'q'), {{q30, 1}, {"qqqqqq", 1}}},
        {6, std::string(40, 'q'), {{q30, 1}}},
        {5, "Hello world, again!",
         {{"hello", 1}, {"world,", 1}, {"hello wo", 1}, {"again", 1}, {"world, a", 1}}},
        // Version 4 keeps dots and bangs inside tokens.
        {4, "The end.", {{"the", 1}, {"end.", 1}, {"the end.", 1}}},
        {5, "The end.", {{"the", 1}, {"end", 1}, {"the end", 1}}},
        {4, "a(b)c/d!", {{"a(b)c/d!", 1}, {"a(b)c/", 1}}},
        {6, "a(b)c/d!", {{"a", 1}, {"b", 1}, {"c", 1}, {"d", 1}}},
        // Word pairs need a previous token of at most 6 bytes and 5 to 8 bytes in all.
        {5, "a b", {{"a", 1}, {"b", 1}}},
        {5, "ab cd", {{"ab", 1}, {"cd", 1}, {"ab cd", 1}}},
        {4, "sixsix next", {{"sixsix", 1}, {"next", 1}, {"sixsix n", 1}}},
        {5, "seventh word", {{"seventh", 1}, {"sevent", 1}, {"word", 1}}},
        {5, "a bcdefghij x",
         {{"a", 1}, {"bcdefghij", 1}, {"a bcdefg", 1}, {"bcdefg", 1}, {"x", 1}}},
        {5, "To\r\n\tbe. (to) / be", {{"to", 2}, {"be", 2}, {"to be", 2}, {"be to", 1}}},
        // Only ASCII letters are lower-cased.
        {6, capitalADiaeresis + "RA", {{capitalADiaeresis + "ra", 1}}},
        {6, "@[`{", {{"@[`{", 1}}},
        {7, capitalADiaeresis + "BC ", {{capitalADiaeresis + "bc", 1}}},
        // Version 7: windows of 4 bytes over the text with every other byte run as one space.
        {7, "Abc, de", {{"abc ", 1}, {"bc d", 1}}},
        {7, "abcd", {}},
        {7, "abcde", {{"abcd", 1}}},
        {7, "9 Don't1, 2\xE9x", {{" don", 1}, {"don'", 1}, {"on't", 1}, {"n't ", 1}, {"'t \xE9", 1}}},
        {7, "ab\tab\nab\r\n", {{"ab a", 2}, {"b ab", 2}, {" ab ", 1}}},
    };
    for (const Case& c : cases) {
        FeatureCounts counts;
        createFeatureExtractor(c.version)->extract(c.text, counts);
        EXPECT_EQ(c.expected, Features(counts.begin(), counts.end()))
            << "version " << c.version << ": " << c.text;
    }
    // Counts add to what the map holds already.
    FeatureCounts counts{{"zz", 7}, {"b", 1}};
    createFeatureExtractor(3)->extract("b c", counts);
    EXPECT_EQ(Features({{"zz", 7}, {"b", 2}, {"c", 1}}), Features(counts.begin(), counts.end()));
}

}  // namespace
}  // namespace norvale::classifier
