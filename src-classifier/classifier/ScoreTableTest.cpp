#include "classifier/ScoreTable.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "classifier/ClassifierTestSupport.h"

namespace norvale::classifier {
namespace {

using storage::LaneBase;

// Rows follow lane order, so the 5-byte feature is the first to go past the budget; a row is
// claimed once and found only once published.
TEST(ScoreTableTest, KeepsRowsUpToTheBudgetAndLetsOneReaderFillEach) {
    storage::FeatureSet set;
    for (const char* name : {"a", "b"}) set.addClass(name);
    for (const char* feature : {"abc", "abd", "abcde"}) set.addAt(0, feature, 1);
    set.compact();
    for (const std::size_t budgetRows : {0u, 2u, 50u}) {
        ScoreTable table(set, budgetRows * (2 * sizeof(double) + 1));
        table.prefetch(3, LaneBase::NoFeature);
        EXPECT_EQ(nullptr, table.claim(3, LaneBase::NoFeature));
        std::size_t row = 0;
        for (const std::string_view feature : {"abc", "abd", "abcde"}) {
            SCOPED_TRACE(testing::Message() << budgetRows << ' ' << feature);
            const std::uint32_t ordinal = set.lane(feature.size()).findFeature(feature);
            double* const claimed = table.claim(feature.size(), ordinal);
            EXPECT_EQ(row++ < budgetRows, claimed != nullptr);
            if (claimed == nullptr) continue;
            EXPECT_EQ(nullptr, table.claim(feature.size(), ordinal)) << "claimed twice";
            EXPECT_EQ(nullptr, table.find(feature.size(), ordinal)) << "found unpublished";
            table.publish(feature.size(), ordinal);
            EXPECT_EQ(claimed, table.find(feature.size(), ordinal));
        }
    }
}

// Readers on several threads fill and read one table and get, bit for bit, what a copy with
// nothing stored yet computes; a train and a removeClass each drop the table, so no stale row
// is read.
TEST(ScoreTableConcurrencyTest, ReadersShareOneTableAndEveryChangeDropsIt) {
    const std::vector<std::string> texts = {
        "the quick brown fox jumps over the lazy dog", "lorem ipsum dolor sit amet consectetur",
        "a fox and a dog and a cat", "dolor sit amet, the dog", "nothing known here zzz"};
    const auto classifier = trainedOn(nullptr, {{"y", texts[0]},
                                                {"x", texts[1]},
                                                {"y", texts[2]},
                                                {"x", texts[3]},
                                                {"z", "fox fox dog"},
                                                {"w", ""}});
    const auto readAll = [&] {
        std::vector<std::string> expected;
        for (const std::string& text : texts) {
            expected.push_back(readings(*classifier->clone(), text));  // nothing stored yet
        }
        std::vector<std::thread> readers;
        for (std::size_t r = 0; r < 4; ++r) {
            readers.emplace_back([&, r] {
                for (std::size_t i = 0; i < 20 * texts.size(); ++i) {
                    const std::size_t t = (i + r) % texts.size();
                    EXPECT_EQ(expected[t], readings(*classifier, texts[t])) << t;
                }
            });
        }
        for (auto& reader : readers) reader.join();
    };
    readAll();
    classifier->train("w", "dog dog dog lorem");
    classifier->compact();
    readAll();
    classifier->removeClass("y");
    readAll();
}

}  // namespace
}  // namespace norvale::classifier
