#include "classifier/KeywordExtractor.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "classifier/CheckReportFixture.h"

namespace norvale::classifier {
namespace {

std::map<std::string, std::uint32_t> wordsOf(const KeywordExtractor& extractor,
                                             std::string_view text) {
    FeatureCounts counts;
    extractor.extract(text, counts);
    return {counts.begin(), counts.end()};
}

using Words = std::map<std::string, std::uint32_t>;

TEST(KeywordExtractorTest, SplitsAtEveryKeywordSeparator) {
    EXPECT_EQ(11u, KeywordSeparators.size());
    const KeywordExtractor extractor(30, false);
    EXPECT_EQ((Words{{"a", 1},
                     {"b", 1},
                     {"c", 1},
                     {"d", 1},
                     {"e", 1},
                     {"f", 1},
                     {"g", 1},
                     {"h", 1},
                     {"i", 1},
                     {"j", 1},
                     {"k", 1},
                     {"l", 2}}),
              wordsOf(extractor, "  a\nb\rc\td,e.f!g?h:i;j\"k l l."));
    // Everything else belongs to the word, bytes from 0x80 upwards included.
    EXPECT_EQ((Words{{"(x)/y-z", 1}, {"\xC3\x84rger", 1}}),
              wordsOf(extractor, "(x)/y-z \xC3\x84rger"));
    EXPECT_TRUE(wordsOf(extractor, "").empty());
    EXPECT_TRUE(wordsOf(extractor, " ,.!?\n").empty());
}

TEST(KeywordExtractorTest, DropsWordsThatWouldNeedEscapingOrHoldControlBytes) {
    const KeywordExtractor extractor(30, false);
    EXPECT_EQ((Words{{"kept", 1}}), wordsOf(extractor, "don't a<b a>b R&D kept bell\x07 nul" +
                                                           std::string(1, '\0') + "x \x1f"));
}

TEST(KeywordExtractorTest, FoldsOnlyAsciiLettersWhenAsked) {
    EXPECT_EQ((Words{{"Word", 1}, {"word", 1}}), wordsOf(KeywordExtractor(30, false), "Word word"));
    EXPECT_EQ((Words{{"word", 2}, {"\xC3\x84x", 1}}),
              wordsOf(KeywordExtractor(30, true), "Word WORD \xC3\x84X"));
}

TEST(KeywordExtractorTest, CutsWordsButChecksTheWholeRun) {
    const KeywordExtractor extractor(4, false);
    EXPECT_EQ(4u, extractor.maxTokenSize());
    EXPECT_EQ((Words{{"abcd", 2}, {"xy", 1}}), wordsOf(extractor, "abcdefgh abcd xy abcdef&"));
}

using KeywordExtractorDeathTest = CheckReportFixture;

TEST_F(KeywordExtractorDeathTest, ZeroMaxTokenSizeIsAFailedCheck) {
    EXPECT_DEATH(
        {
            enterDir();
            KeywordExtractor(0, true);
        },
        "");
    expectReport("_maxTokenSize > 0", "Setting the maxTokenSize to 0 makes no sense.");
}

}  // namespace
}  // namespace norvale::classifier
