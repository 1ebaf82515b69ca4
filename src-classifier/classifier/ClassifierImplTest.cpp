#include "classifier/ClassifierImpl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "classifier/BlobTestSupport.h"
#include "classifier/ClassifierFactoryImpl.h"
#include "classifier/ClassifierTestSupport.h"

namespace norvale::classifier {
namespace {

using Probabilities = std::map<std::string, double>;
using Training = std::vector<std::pair<std::string, std::string>>;  // class, text

Probabilities probabilities(const Classifier& classifier, std::string_view text,
                            double* coverage = nullptr) {
    Classification result;
    classifier.classify(text, result);
    if (coverage != nullptr) *coverage = result.getTextCoverage();
    return result.getProbabilities();
}

// Single-letter words are single features under extractor version 5: a word pair needs at
// least 5 bytes and a prefix at least 7, so "a a b" stores exactly a:2 and b:1.
std::unique_ptr<ClassifierImpl> trainedOn(const CallbackFactory* callbacks,
                                          const Training& training, double smoothing = 0.05) {
    auto classifier = std::make_unique<ClassifierImpl>(callbacks, smoothing);
    for (const auto& [name, text] : training) {
        if (!classifier->classExists(name)) classifier->addClass(name);
        classifier->train(name, text);
    }
    classifier->compact();
    return classifier;
}

TEST(ClassifierImplTest, WorkedExamples) {
    const double third = 1.0 / 3.0;
    const Training twoClasses = {{"first", "f f g"}, {"second", "h"}};
    const Training threeClasses = {{"first", "a a b"}, {"second", "b"}, {"third", ""}};
    const Training unknown = {{"a", "x x y"}, {"b", ""}, {"c", ""}};
    const Training disjoint = {{"a", "x"}, {"b", "y"}, {"c", "z"}};
    const struct {
        const char* what;
        double smoothing;
        Training training;
        std::string text;
        Probabilities expected;
        double coverage;
    } cases[] = {
        {"two classes", 0.05, twoClasses, "f", {{"first", 0.999359}, {"second", 0.000641}}, 1.0},
        // The smaller class's count is scaled up to the larger class's size.
        {"two classes, word of the smaller", 0.05, twoClasses, "h",
         {{"first", 0.000641}, {"second", 0.999359}}, 1.0},
        // a once (2, 0, 0), b twice (1, 1, 0), z known to no class.
        {"three classes", 0.05, threeClasses, "a b b z",
         {{"first", 0.836250}, {"second", 0.125950}, {"third", 0.037801}}, 2.0 / 3.0},
        {"one class", 0.05, {{"only", "a b"}}, "a x y z", {{"only", 1.0}}, 0.25},
        {"unknown words", 0.05, unknown, "p q r", {{"a", third}, {"b", third}, {"c", third}}, 0},
        {"no words", 0.05, unknown, "   ", {{"a", third}, {"b", third}, {"c", third}}, 0.0},
        // Each word is missing from two classes, which then score ln 0.
        {"every score minus infinity", 0.0, disjoint, "x y z",
         {{"a", third}, {"b", third}, {"c", third}}, 1.0},
        {"one finite score", 0.0, disjoint, "x", {{"a", 1.0}, {"b", 0.0}, {"c", 0.0}}, 1.0},
    };
    RecordingCallbackFactory callbacks;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        double coverage = -1.0;
        const Probabilities result =
            probabilities(*trainedOn(&callbacks, c.training, c.smoothing), c.text, &coverage);
        ASSERT_EQ(c.expected.size(), result.size());
        for (const auto& [name, p] : c.expected) EXPECT_NEAR(p, result.at(name), 5e-7) << name;
        EXPECT_NEAR(c.coverage, coverage, 5e-7);
    }
    EXPECT_TRUE(callbacks.reports().empty());

    // An infinite smoothing term makes every score infinite, and inf - inf is not a number:
    // each class's probability fails the three checks, is reported and still answered.
    const auto broken = trainedOn(&callbacks, {{"a", "x"}, {"b", ""}}, INFINITY);
    EXPECT_TRUE(std::isnan(probabilities(*broken, "x").at("a")));
    ASSERT_EQ(6u, callbacks.reports().size());
    EXPECT_EQ("A probability is not a number. One of the normalized probabilities are not valid.",
              callbacks.reports()[1]._description);
}

// Each known word of the text with its best class, that class's share e_j / E and the word's
// count in the text; a word qualifies with a share strictly above the threshold, and of classes
// with equal shares the first one wins.
TEST(ClassifierImplTest, KeywordsWorkedExample) {
    using Kept = std::vector<std::tuple<std::string, std::string, double, std::uint32_t>>;
    const Training threeClasses = {{"first", "a a b"}, {"second", "b"}, {"third", ""}};
    const struct {
        Training training;
        std::uint32_t capacity;
        double threshold;
        std::string text;
        Kept expected;
    } cases[] = {
        {threeClasses, 30, 0.0, "a b b z",
         {{"a", "first", 1.791653 / (1.791653 + 0.156618 + 0.179456), 1},
          {"b", "second", 0.470580 / (0.333036 + 0.470580 + 0.252392), 2}}},
        {threeClasses, 30, 1.8 / 4, "A, b. b z", {{"a", "first", 0.842050, 1}}},
        {threeClasses, 0, 0.0, "a b b z", {}},
        {threeClasses, 30, 0.0, "z y don't", {}},
        {{{"x", "q"}, {"y", "q"}}, 30, 0.0, "q", {{"q", "x", 0.5, 1}}},
    };
    RecordingCallbackFactory callbacks;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        KeywordQueue queue(c.capacity, c.threshold);
        const auto classifier = trainedOn(&callbacks, c.training);  // holds the keywords' bytes
        classifier->classifyKeywords(c.text, queue);
        Kept kept;
        for (const Keyword& k : queue) {
            kept.emplace_back(k.tokenView(), k.className(), k.probability(), k.count());
        }
        std::sort(kept.begin(), kept.end());
        ASSERT_EQ(c.expected.size(), kept.size());
        for (std::size_t i = 0; i < kept.size(); ++i) {
            const auto& [word, name, p, count] = c.expected[i];
            EXPECT_EQ(word, std::get<0>(kept[i]));
            EXPECT_EQ(name, std::get<1>(kept[i]));
            EXPECT_NEAR(p, std::get<2>(kept[i]), 1e-6) << word;
            EXPECT_EQ(count, std::get<3>(kept[i])) << word;
        }
    }
}

TEST(ClassifierImplTest, CallerErrorsThrowTheirMessagesAndChangeNothing) {
    ClassifierImpl classifier(nullptr, 0.05);
    Classification result;
    KeywordQueue queue(30, 0.0);
    // Without features in the text the class is not even looked up.
    classifier.train("missing", "");
    classifier.untrain("missing", "   ");
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { classifier.classify("x", result); },
         "Trying to classify a text before any classes have been added!"},
        {[&] { classifier.classifyKeywords("x", queue); },
         "Trying to classify a text before any classes have been added!"},
        {[&] { classifier.train("missing", "word"); },
         "Trying to train on a class that doesn't exist. Class name 'missing'."},
        {[&] { classifier.untrain("missing", "word"); },
         "Trying to untrain on a class that doesn't exist. Class name 'missing'."},
        {[&] { classifier.train("", ""); },
         "When training the classifier the class name must at least have one character."},
        {[&] { classifier.untrain("", "word"); },
         "When untraining the classifier the class name must at least have one character."},
        {[&] { classifier.removeClass("C"); },
         "Trying to remove a nonexisting class with the name 'C'."},
    };
    for (const auto& [call, message] : cases) EXPECT_EQ(message, messageOf(call));
    EXPECT_TRUE(classifier.getInformation().empty());
    classifier.addClass("c");
    EXPECT_FALSE(classifier.classExists("C"));  // names are case-sensitive
}

// Format 5, extractor version 5, smoothing 0.05, no classes, byte for byte.
TEST(ClassifierFactoryImplTest, MakesVersionFiveClassifiersWithTheServerSmoothing) {
    RecordingCallbackFactory callbacks;
    EXPECT_EQ(blobtest::header(5) + blobtest::emptyPayload(),
              ClassifierFactoryImpl(&callbacks).create()->getTrainingData());
}

// What a reader sees of a classifier: probabilities, keywords and class totals of a text.
std::string readings(const Classifier& classifier, const std::string& text) {
    std::ostringstream out;
    out.precision(17);
    for (const auto& [name, p] : probabilities(classifier, text)) out << name << '=' << p << ' ';
    KeywordQueue keywords(8, 0.0);
    classifier.classifyKeywords(text, keywords);
    for (const Keyword& keyword : keywords) {
        out << keyword.tokenView() << ':' << keyword.probability() << ':' << keyword.className()
            << ' ';
    }
    for (const ClassInformation& info : classifier.getInformation()) {
        out << info.name() << '/' << info.uniqueFeatures() << '/' << info.totalCount() << ' ';
    }
    return out.str();
}

// Training collects beside the sorted counts until a compaction, which may come after every call
// or seldom; a batch of calls noted in an undo log may be taken back. Random call sequences, run
// on a classifier that compacts after every call and one that compacts only when its backlog has
// grown, must agree on every refusal, reading, stored byte and size at every step; a batch taken
// back must leave every reading and byte as before it.
TEST(ClassifierImplTest, UncompactedAndUndoneTrainingReadsAsCompactedTraining) {
    const std::vector<std::string> words = {"a", "b", "cc", "ddd", "hello", "world", "longerword",
                                            "again", "x y", "spam"};
    const std::vector<std::string> names = {"red", "green", "blue", "grey"};
    for (unsigned seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const auto pick = [&](const std::vector<std::string>& from) {
            return from[random() % from.size()];
        };
        const auto textOf = [&] {
            std::string text = pick(words);
            for (unsigned more = random() % 6; more > 0; --more) text += " " + pick(words);
            return text;
        };
        ClassifierImpl eager(nullptr, 0.05);
        ClassifierImpl lazy(nullptr, 0.05);
        const auto expectSame = [&](const std::string& text, int step) {
            ASSERT_EQ(eager.getTrainingData(), lazy.getTrainingData()) << "step " << step;
            ASSERT_EQ(eager.trainingDataSize(), lazy.trainingDataSize()) << "step " << step;
            if (eager.featureSet().classCount() == 0) return;
            ASSERT_EQ(readings(eager, text), readings(lazy, text)) << "step " << step;
        };
        for (int step = 0; step < 300; ++step) {
            const std::string name = pick(names);
            const std::string text = textOf();
            const unsigned operation = random() % 20;
            const auto both = [&](const std::function<void(Classifier&, bool)>& call) {
                ASSERT_EQ(messageOf([&] { call(eager, true); }),
                          messageOf([&] { call(lazy, false); })) << "step " << step;
            };
            if (operation < 2) {
                both([&](Classifier& c, bool) { c.addClass(name); });
            } else if (operation < 3) {
                both([&](Classifier& c, bool) { c.removeClass(name); });
            } else if (operation < 15) {
                both([&](Classifier& c, bool compactNow) {
                    operation >= 11 ? c.untrain(name, text) : c.train(name, text);
                    if (compactNow) c.compact();
                });
            } else if (operation < 18) {
                // A batch applied to the lazy one with an undo log, then taken back.
                const std::string before = lazy.getTrainingData();
                UndoLog undo;
                for (unsigned call = random() % 8; call > 0; --call) {
                    const std::string className = pick(names);
                    if (!lazy.classExists(className)) continue;
                    random() % 3 == 0 ? lazy.untrain(className, textOf(), undo)
                                      : lazy.train(className, textOf(), undo);
                }
                lazy.undo(undo);
                ASSERT_TRUE(undo.changes().empty());
                ASSERT_EQ(before, lazy.getTrainingData()) << "step " << step;
            } else {
                lazy.compactBacklog(random() % 4);
            }
            expectSame(text, step);
        }
    }
}

}  // namespace
}  // namespace norvale::classifier
