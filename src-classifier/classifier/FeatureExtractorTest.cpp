#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "classifier/ClassifierException.h"
#include "classifier/FeatureExtractor.h"

namespace norvale::classifier {
namespace {

using Features = std::map<std::string, std::uint32_t>;

Features extract(std::uint32_t version, std::string_view text) {
    FeatureCounts counts;
    createFeatureExtractor(version)->extract(text, counts);
    return Features(counts.begin(), counts.end());
}

TEST(FeatureExtractorTest, FactoryMakesVersionsThreeToSevenWithTokenSize30) {
    for (std::uint32_t version = 3; version <= 7; ++version) {
        EXPECT_EQ(30u, createFeatureExtractor(version)->maxTokenSize()) << version;
    }
    for (std::uint32_t version : {0u, 1u, 2u, 8u, 4294967295u}) {
        try {
            createFeatureExtractor(version);
            ADD_FAILURE() << "version " << version << " was accepted";
        } catch (const ClassifierException& e) {
            EXPECT_STREQ(
                ("Unrecognized data version for feature extractor " + std::to_string(version))
                    .c_str(),
                e.what());
        }
    }
}

TEST(FeatureExtractorTest, EmptyOrSeparatorOnlyTextsAddNothing) {
    const std::map<std::uint32_t, std::string> separatorsOnly = {
        {3, "   "}, {4, " \r\n\t "}, {5, " .!\n\r\t()/"}, {6, "..//!!"}, {7, "12, 3.!?"}};
    for (const auto& [version, text] : separatorsOnly) {
        EXPECT_TRUE(extract(version, "").empty()) << version;
        EXPECT_TRUE(extract(version, text).empty()) << version;
    }
}

TEST(FeatureExtractorTest, CountsAccumulateIntoTheGivenMap) {
    EXPECT_EQ(Features({{"a", 3}}), extract(3, "a a a"));

    FeatureCounts counts{{"zz", 7}, {"b", 1}};
    createFeatureExtractor(3)->extract("b c", counts);
    EXPECT_EQ(Features({{"zz", 7}, {"b", 2}, {"c", 1}}), Features(counts.begin(), counts.end()));
}

TEST(FeatureExtractorTest, Version3SplitsOnSpaceOnlyAndKeepsCase) {
    EXPECT_EQ(Features({{"Word", 1}, {"word", 1}, {"a.b\tc\nd", 1}}),
              extract(3, "  Word word   a.b\tc\nd "));
}

TEST(FeatureExtractorTest, LongRunsAreCutTo30BytesAndScanningGoesOnAfterTheWholeRun) {
    const std::string run(40, 'q');
    EXPECT_EQ(Features({{std::string(30, 'q'), 1}, {"x", 1}}), extract(3, run + " x"));
    EXPECT_EQ(Features({{std::string(30, 'q'), 1}, {"qqqqqq", 1}}), extract(5, run));
    EXPECT_EQ(Features({{std::string(30, 'q'), 1}}), extract(6, run));
}

TEST(FeatureExtractorTest, Version5ExampleGivesTokensPairsAndNoShortPrefixes) {
    EXPECT_EQ(
        Features({{"hello", 1}, {"world,", 1}, {"hello wo", 1}, {"again", 1}, {"world, a", 1}}),
        extract(5, "Hello world, again!"));
}

TEST(FeatureExtractorTest, Version4KeepsDotsAndBangsInsideTokens) {
    EXPECT_EQ(Features({{"the", 1}, {"end.", 1}, {"the end.", 1}}), extract(4, "The end."));
    EXPECT_EQ(Features({{"the", 1}, {"end", 1}, {"the end", 1}}), extract(5, "The end."));
    EXPECT_EQ(Features({{"a(b)c/d!", 1}, {"a(b)c/", 1}}), extract(4, "a(b)c/d!"));
    EXPECT_EQ(Features({{"a", 1}, {"b", 1}, {"c", 1}, {"d", 1}}), extract(6, "a(b)c/d!"));
}

TEST(FeatureExtractorTest, WordPairsNeedAShortPreviousTokenAndFiveToEightBytes) {
    // |p| + 1 = 2 and one byte of t: 3 bytes, too short for a pair.
    EXPECT_EQ(Features({{"a", 1}, {"b", 1}}), extract(5, "a b"));
    // "ab cd" is exactly 5 bytes.
    EXPECT_EQ(Features({{"ab", 1}, {"cd", 1}, {"ab cd", 1}}), extract(5, "ab cd"));
    // A 6-byte previous token leaves room for one byte of the next.
    EXPECT_EQ(Features({{"sixsix", 1}, {"next", 1}, {"sixsix n", 1}}), extract(4, "sixsix next"));
    // A previous token of 7 bytes never pairs, but still gives its prefix.
    EXPECT_EQ(Features({{"seventh", 1}, {"sevent", 1}, {"word", 1}}), extract(5, "seventh word"));
    // A long token pairs by its first bytes only and then becomes the previous token.
    EXPECT_EQ(Features({{"a", 1}, {"bcdefghij", 1}, {"a bcdefg", 1}, {"bcdefg", 1}, {"x", 1}}),
              extract(5, "a bcdefghij x"));
}

TEST(FeatureExtractorTest, PairsFormAcrossSeparatorRunsAndRepeatedTokensCountTwice) {
    EXPECT_EQ(Features({{"to", 2}, {"be", 2}, {"to be", 2}, {"be to", 1}}),
              extract(5, "To\r\n\tbe. (to) / be"));
}

TEST(FeatureExtractorTest, OnlyAsciiLettersAreLowerCased) {
    const std::string capitalADiaeresis = "\xC3\x84";
    EXPECT_EQ(Features({{capitalADiaeresis + "ra", 1}}), extract(6, capitalADiaeresis + "RA"));
    EXPECT_EQ(Features({{"@[`{", 1}}), extract(6, "@[`{"));
    EXPECT_EQ(Features({{"\xC3\x84"
                         "bc",
                         1}}),
              extract(7,
                      "\xC3\x84"
                      "BC "));
}

TEST(FeatureExtractorTest, Version7GivesLengthMinusFourWindows) {
    EXPECT_EQ(Features({{"abc ", 1}, {"bc d", 1}}), extract(7, "Abc, de"));
    EXPECT_TRUE(extract(7, "abcd").empty());
    EXPECT_EQ(Features({{"abcd", 1}}), extract(7, "abcde"));
}

TEST(FeatureExtractorTest, Version7FoldsEveryOtherByteRunIntoOneSpace) {
    // Leading digits become a space; apostrophes and high bytes are kept; "1, 2" is one space.
    EXPECT_EQ(Features({{" don", 1}, {"don'", 1}, {"on't", 1}, {"n't ", 1}, {"'t \xE9", 1}}),
              extract(7, "9 Don't1, 2\xE9x"));
    EXPECT_EQ(Features({{"ab a", 2}, {"b ab", 2}, {" ab ", 1}}), extract(7, "ab\tab\nab\r\n"));
}

}  // namespace
}  // namespace norvale::classifier
