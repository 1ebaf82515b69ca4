#include "classifier/ScoreTable.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "classifier/ClassifierImpl.h"

namespace norvale::classifier {
namespace {

using storage::LaneBase;

// Rows follow lane order, so the 5-byte feature is the first to go past the budget; a row is
// claimed once and found only once published.
TEST(ScoreTableTest, KeepsRowsUpToTheBudgetAndLetsOneReaderFillEach) {
    storage::FeatureSet set;
    set.addClass("a");
    set.addClass("b");
    for (const char* feature : {"abc", "abd", "abcde"}) set.addAt(0, feature, 1);
    set.compact();
    const std::pair<std::size_t, std::uint32_t> features[] = {
        {3, set.lane(3).findFeature("abc")}, {3, set.lane(3).findFeature("abd")},
        {5, set.lane(5).findFeature("abcde")}};
    for (const std::size_t budgetRows : {0u, 2u, 3u, 50u}) {
        SCOPED_TRACE(budgetRows);
        ScoreTable table(set, budgetRows * (2 * sizeof(double) + 1));
        ASSERT_EQ(std::min<std::size_t>(budgetRows, 3), table.rows());
        table.prefetch(3, LaneBase::NoFeature);
        EXPECT_EQ(nullptr, table.claim(3, LaneBase::NoFeature));
        for (std::size_t row = 0; row < 3; ++row) {
            const auto [lane, ordinal] = features[row];
            double* const claimed = table.claim(lane, ordinal);
            EXPECT_EQ(row < table.rows(), claimed != nullptr) << row;
            if (claimed == nullptr) continue;
            EXPECT_EQ(nullptr, table.claim(lane, ordinal)) << "claimed twice";
            EXPECT_EQ(nullptr, table.find(lane, ordinal)) << "found before it was published";
            table.publish(lane, ordinal);
            EXPECT_EQ(claimed, table.find(lane, ordinal));
        }
    }
}

struct Result {
    double coverage;
    std::map<std::string, double> probabilities;
    bool operator==(const Result&) const = default;
};

Result classifyWith(const Classifier& classifier, const std::string& text) {
    Classification out;
    classifier.classify(text, out);
    return {out.getTextCoverage(), out.getProbabilities()};
}

// What each text gets from a copy of classifier with nothing stored yet: every value computed.
std::vector<Result> computedAfresh(const ClassifierImpl& classifier,
                                   const std::vector<std::string>& texts) {
    std::vector<Result> results;
    for (const std::string& text : texts) {
        results.push_back(classifyWith(*classifier.clone(), text));
    }
    return results;
}

// Readers on several threads fill and read one table and get, bit for bit, what computing
// every value gives; a train and a removeClass each drop the table, so no stale row is read.
TEST(ScoreTableConcurrencyTest, ReadersShareOneTableAndEveryChangeDropsIt) {
    ClassifierImpl classifier(nullptr, 0.05);
    for (const char* name : {"x", "y", "z", "w"}) classifier.addClass(name);
    const std::vector<std::string> texts = {
        "the quick brown fox jumps over the lazy dog", "lorem ipsum dolor sit amet consectetur",
        "a fox and a dog and a cat", "dolor sit amet, the dog", "nothing known here zzz"};
    for (std::size_t i = 0; i < 4; ++i) classifier.train(i % 2 ? "x" : "y", texts[i]);
    classifier.train("z", "fox fox dog");
    classifier.compact();
    const auto readAll = [&](const std::vector<Result>& expected) {
        std::vector<std::thread> readers;
        for (int r = 0; r < 4; ++r) {
            readers.emplace_back([&, r] {
                for (int round = 0; round < 20; ++round) {
                    for (std::size_t i = 0; i < texts.size(); ++i) {
                        const std::size_t t = (i + r) % texts.size();
                        EXPECT_EQ(expected[t], classifyWith(classifier, texts[t])) << t;
                    }
                }
            });
        }
        for (auto& reader : readers) reader.join();
    };
    readAll(computedAfresh(classifier, texts));
    classifier.train("w", "dog dog dog lorem");
    classifier.compact();
    readAll(computedAfresh(classifier, texts));
    classifier.removeClass("y");
    readAll(computedAfresh(classifier, texts));
}

}  // namespace
}  // namespace norvale::classifier
