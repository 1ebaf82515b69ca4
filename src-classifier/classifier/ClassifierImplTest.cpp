#include "classifier/ClassifierImpl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "classifier/BlobTestSupport.h"
#include "classifier/ClassifierException.h"
#include "classifier/ClassifierFactoryImpl.h"
#include "classifier/ClassifierTestSupport.h"

namespace norvale::classifier {
namespace {

using Probabilities = std::map<std::string, double>;

Probabilities probabilities(const Classifier& classifier, std::string_view text,
                            double* coverage = nullptr) {
    Classification result;
    classifier.classify(text, result);
    if (coverage != nullptr) *coverage = result.getTextCoverage();
    return result.getProbabilities();
}

// Single-letter words are single features under extractor version 5: a word pair needs at
// least 5 bytes and a prefix at least 7, so "a a b" stores exactly a:2 and b:1.
class ClassifierImplTest : public testing::Test {
protected:
    ClassifierImpl make(double smoothing = 0.05) { return ClassifierImpl(&_callbacks, smoothing); }

    // Three classes: first "a a b", second "b", third nothing.
    std::unique_ptr<ClassifierImpl> threeClasses() {
        auto classifier = std::make_unique<ClassifierImpl>(&_callbacks, 0.05);
        for (const char* name : {"first", "second", "third"}) classifier->addClass(name);
        classifier->train("first", "a a b");
        classifier->train("second", "b");
        classifier->compact();
        return classifier;
    }

    RecordingCallbackFactory _callbacks;
};

TEST_F(ClassifierImplTest, WorkedExamples) {
    struct Case {
        const char* what;
        double smoothing;
        std::vector<std::pair<std::string, std::string>> training;  // class, text
        std::string text;
        Probabilities expected;
        double coverage;
    };
    const double third = 1.0 / 3.0;
    const std::vector<Case> cases = {
        {"two classes", 0.05, {{"first", "f f g"}, {"second", "h"}}, "f",
         {{"first", 0.999359}, {"second", 0.000641}}, 1.0},
        // The smaller class's count is scaled up to the larger class's size.
        {"two classes, word of the smaller", 0.05, {{"first", "f f g"}, {"second", "h"}}, "h",
         {{"first", 0.000641}, {"second", 0.999359}}, 1.0},
        // a once (2, 0, 0), b twice (1, 1, 0), z known to no class.
        {"three classes", 0.05, {{"first", "a a b"}, {"second", "b"}, {"third", ""}}, "a b b z",
         {{"first", 0.836250}, {"second", 0.125950}, {"third", 0.037801}}, 2.0 / 3.0},
        {"one class", 0.05, {{"only", "a b"}}, "a x y z", {{"only", 1.0}}, 0.25},
        {"unknown words", 0.05, {{"a", "x x y"}, {"b", ""}, {"c", ""}}, "p q r",
         {{"a", third}, {"b", third}, {"c", third}}, 0.0},
        {"no words", 0.05, {{"a", "x x y"}, {"b", ""}, {"c", ""}}, "   ",
         {{"a", third}, {"b", third}, {"c", third}}, 0.0},
        // Each word is missing from two classes, which then score ln 0.
        {"every score minus infinity", 0.0, {{"a", "x"}, {"b", "y"}, {"c", "z"}}, "x y z",
         {{"a", third}, {"b", third}, {"c", third}}, 1.0},
        {"one finite score", 0.0, {{"a", "x"}, {"b", "y"}, {"c", "z"}}, "x",
         {{"a", 1.0}, {"b", 0.0}, {"c", 0.0}}, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClassifierImpl classifier = make(c.smoothing);
        for (const auto& [name, text] : c.training) {
            classifier.addClass(name);
            classifier.train(name, text);
        }
        classifier.compact();
        double coverage = -1.0;
        const Probabilities result = probabilities(classifier, c.text, &coverage);
        ASSERT_EQ(c.expected.size(), result.size());
        for (const auto& [name, p] : c.expected) EXPECT_NEAR(p, result.at(name), 5e-7) << name;
        EXPECT_NEAR(c.coverage, coverage, 5e-7);
    }
    EXPECT_TRUE(_callbacks.reports().empty());
}

TEST_F(ClassifierImplTest, KeywordsWorkedExample) {
    const std::unique_ptr<ClassifierImpl> owner = threeClasses();
    const ClassifierImpl& classifier = *owner;
    // With threshold 0 every known word is a keyword, with its best class's share e_j / E.
    KeywordQueue all(30, 0.0);
    classifier.classifyKeywords("a b b z", all);
    std::map<std::string, const Keyword*> byWord;
    for (const Keyword& keyword : all) byWord[std::string(keyword.tokenView())] = &keyword;
    ASSERT_EQ(2u, byWord.size());
    EXPECT_NEAR(1.791653 / (1.791653 + 0.156618 + 0.179456), byWord["a"]->probability(), 1e-6);
    EXPECT_STREQ("first", byWord["a"]->className());
    EXPECT_NEAR(0.470580 / (0.333036 + 0.470580 + 0.252392), byWord["b"]->probability(), 1e-6);
    EXPECT_STREQ("second", byWord["b"]->className());
    EXPECT_EQ(2u, byWord["b"]->count());

    KeywordQueue queue(30, 1.8 / 4);
    classifier.classifyKeywords("A, b. b z", queue);
    ASSERT_EQ(1u, queue.size());
    const Keyword& keyword = queue.top();
    EXPECT_EQ("a", keyword.tokenView());
    EXPECT_NEAR(0.842, keyword.probability(), 5e-4);
    EXPECT_EQ(1u, keyword.count());
    // The keyword points at the stored bytes and the stored name, not at copies.
    EXPECT_EQ(classifier.featureSet().classAt(0)._name.c_str(), keyword.className());
    EXPECT_EQ(reinterpret_cast<const char*>(classifier.featureSet().lane(1).begin().record()),
              keyword.token());

    // Of classes with equal shares the first one is the keyword's class.
    ClassifierImpl tie = make();
    for (const char* name : {"x", "y"}) {
        tie.addClass(name);
        tie.train(name, "q");
    }
    tie.compact();
    KeywordQueue tied(30, 0.0);
    tie.classifyKeywords("q", tied);
    ASSERT_EQ(1u, tied.size());
    EXPECT_STREQ("x", tied.top().className());

    for (const auto& [capacity, text] : {std::pair{0, "a b b z"}, std::pair{30, "z y don't"}}) {
        KeywordQueue none(capacity, 0.0);
        classifier.classifyKeywords(text, none);
        EXPECT_TRUE(none.empty()) << text;
    }
}

TEST_F(ClassifierImplTest, InvalidProbabilitiesAreReportedAndStillStored) {
    // An infinite smoothing term makes every score infinite, and inf - inf is not a number.
    ClassifierImpl classifier = make(INFINITY);
    classifier.addClass("a");
    classifier.addClass("b");
    classifier.train("a", "x");
    classifier.compact();
    EXPECT_TRUE(std::isnan(probabilities(classifier, "x").at("a")));
    const std::string tail = " One of the normalized probabilities are not valid.";
    const std::vector<std::string> problems = {"A probability is not fininte.",
                                               "A probability is not a number.",
                                               "A probability is not between 0 and 1 inclusive."};
    ASSERT_EQ(6u, _callbacks.reports().size());
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ("ClassifierImpl failure", _callbacks.reports()[i]._expression);
        EXPECT_EQ(problems[i % 3] + tail, _callbacks.reports()[i]._description);
    }
}

TEST_F(ClassifierImplTest, CallerErrorsThrowTheirMessagesAndChangeNothing) {
    ClassifierImpl classifier = make();
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

    // Classifying overwrites the classes' entries and keeps the others.
    classifier.addClass("a");
    result.setProbability("a", 0.25);
    result.setProbability("other", 0.5);
    classifier.classify("x", result);
    EXPECT_EQ((Probabilities{{"a", 1.0}, {"other", 0.5}}), result.getProbabilities());
    EXPECT_FALSE(classifier.classExists("A"));  // names are case-sensitive
}

TEST_F(ClassifierImplTest, UntrainingTakesAwayAtMostWhatWasTrained) {
    ClassifierImpl classifier = make();
    classifier.addClass("c");
    classifier.train("c", "Hello world again");  // 3 words, 2 pairs
    classifier.compact();
    EXPECT_EQ(std::vector<ClassInformation>({{"c", 5, 5}}), classifier.getInformation());
    classifier.untrain("c", "hello hello unknown");
    classifier.compact();
    EXPECT_EQ(std::vector<ClassInformation>({{"c", 4, 4}}), classifier.getInformation());
    classifier.removeClass("c");
    EXPECT_FALSE(classifier.classExists("c"));
}

// Swapping a changed copy in is what a write transaction's commit does; the server's
// transaction tests cover the swap.
TEST_F(ClassifierImplTest, CloneIsIndependent) {
    ClassifierImpl original = make();
    original.addClass("a");
    original.train("a", "x y");
    original.compact();

    std::unique_ptr<Classifier> copy = original.clone();
    copy->train("a", "x z");
    copy->addClass("b");
    copy->compact();
    EXPECT_EQ(std::vector<ClassInformation>({{"a", 2, 2}}), original.getInformation());
    EXPECT_EQ(std::vector<ClassInformation>({{"a", 3, 4}, {"b", 0, 0}}), copy->getInformation());
}

// Format 5, extractor version 5, smoothing 0.05, no classes, byte for byte.
TEST(ClassifierFactoryImplTest, MakesVersionFiveClassifiersWithTheServerSmoothing) {
    RecordingCallbackFactory callbacks;
    EXPECT_EQ(blobtest::header(5) + blobtest::emptyPayload(),
              ClassifierFactoryImpl(&callbacks).create()->getTrainingData());
}

// A write transaction compacts once, before removeClass and before its data is stored, instead
// of after every train and untrain. Random call sequences, run both ways, must agree on every
// refusal, probability and stored byte whenever a reader could look (a commit).
TEST_F(ClassifierImplTest, CompactingOncePerTransactionMatchesCompactingAfterEveryCall) {
    const std::vector<std::string> words = {"a", "b", "cc", "ddd", "hello", "world", "longerword",
                                            "again", "x y", "spam"};
    const std::vector<std::string> names = {"red", "green", "blue", "grey"};
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](const std::vector<std::string>& from) {
            return from[random() % from.size()];
        };
        ClassifierImpl eager = make();
        ClassifierImpl once = make();
        for (int step = 0; step < 300; ++step) {
            const std::string name = pick(names);
            std::string text = pick(words);
            for (unsigned more = random() % 6; more > 0; --more) text += " " + pick(words);
            const unsigned operation = random() % 20;
            const auto both = [&](const std::function<void(Classifier&, bool)>& call) {
                const std::string eagerOutcome = messageOf([&] { call(eager, true); });
                ASSERT_EQ(eagerOutcome, messageOf([&] { call(once, false); }))
                    << "seed " << seed << " step " << step;
            };
            if (operation < 2) {
                both([&](Classifier& c, bool) { c.addClass(name); });
            } else if (operation < 3) {
                both([&](Classifier& c, bool) { c.removeClass(name); });
            } else if (operation < 18) {
                const bool untrain = operation >= 13;
                both([&](Classifier& c, bool compactNow) {
                    untrain ? c.untrain(name, text) : c.train(name, text);
                    if (compactNow) c.compact();
                });
            } else {
                once.compact();
                ASSERT_EQ(eager.getTrainingData(), once.getTrainingData()) << "seed " << seed;
                if (eager.featureSet().classCount() == 0) continue;
                ASSERT_EQ(probabilities(eager, text), probabilities(once, text)) << "seed " << seed;
            }
        }
        once.compact();
        EXPECT_EQ(eager.getTrainingData(), once.getTrainingData()) << "seed " << seed;
    }
}

}  // namespace
}  // namespace norvale::classifier
