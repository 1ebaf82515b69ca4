#include "classifier/ClassifierImpl.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "classifier/CheckReportFixture.h"
#include "classifier/ClassifierException.h"
#include "classifier/ClassifierFactoryImpl.h"
#include "classifier/ClassifierTestSupport.h"
#include "classifier/DefaultCallback.h"

namespace norvale::classifier {
namespace {

// Single-letter words are single features under extractor version 5: a word pair needs at
// least 5 bytes and a prefix at least 7, so "a a b" stores exactly a:2 and b:1.
class ClassifierImplTest : public testing::Test {
protected:
    ClassifierImpl make(double smoothing = 0.05) { return ClassifierImpl(&_callbacks, smoothing); }

    static std::map<std::string, double> probabilities(const Classifier& classifier,
                                                       std::string_view text,
                                                       double* coverage = nullptr) {
        Classification result;
        classifier.classify(text, result);
        if (coverage != nullptr) *coverage = result.getTextCoverage();
        return result.getProbabilities();
    }

    RecordingCallbackFactory _callbacks;
};

std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ClassifierException& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

TEST_F(ClassifierImplTest, TwoClassWorkedExample) {
    ClassifierImpl classifier = make();
    classifier.addClass("first");
    classifier.addClass("second");
    classifier.train("first", "f f g");
    classifier.train("second", "h");
    classifier.compact();
    ASSERT_EQ(std::vector<ClassInformation>({{"first", 2, 3}, {"second", 1, 1}}),
              classifier.getInformation());

    double coverage = 0.0;
    const auto result = probabilities(classifier, "f", &coverage);
    EXPECT_NEAR(0.999359, result.at("first"), 5e-7);
    EXPECT_NEAR(0.000641, result.at("second"), 5e-7);
    EXPECT_EQ(1.0, coverage);
    EXPECT_TRUE(_callbacks.reports().empty());
}

TEST_F(ClassifierImplTest, ThreeClassWorkedExample) {
    ClassifierImpl classifier = make();
    for (const char* name : {"first", "second", "third"}) classifier.addClass(name);
    classifier.train("first", "a a b");
    classifier.train("second", "b");
    classifier.compact();

    double coverage = 0.0;
    // a once (2, 0, 0), b twice (1, 1, 0), z known to no class.
    const auto result = probabilities(classifier, "a b b z", &coverage);
    EXPECT_NEAR(0.836250, result.at("first"), 5e-7);
    EXPECT_NEAR(0.125950, result.at("second"), 5e-7);
    EXPECT_NEAR(0.037801, result.at("third"), 5e-7);
    EXPECT_NEAR(0.666667, coverage, 5e-7);

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
}

TEST_F(ClassifierImplTest, ThreeClassKeywordsAboveTheThreshold) {
    ClassifierImpl classifier = make();
    for (const char* name : {"first", "second", "third"}) classifier.addClass(name);
    classifier.train("first", "a a b");
    classifier.train("second", "b");
    classifier.compact();

    KeywordQueue queue(30, 1.8 / 4);
    classifier.classifyKeywords("A, b. b z", queue);
    ASSERT_EQ(1u, queue.size());
    const Keyword& keyword = queue.top();
    EXPECT_EQ("a", keyword.tokenView());
    EXPECT_NEAR(0.842, keyword.probability(), 5e-4);
    EXPECT_EQ(1u, keyword.count());
    EXPECT_STREQ("first", keyword.className());
    // The keyword points at the stored bytes and the stored name, not at copies.
    EXPECT_EQ(classifier.featureSet().classAt(0)._name.c_str(), keyword.className());
    EXPECT_EQ(reinterpret_cast<const char*>(classifier.featureSet().lane(1).begin().record()),
              keyword.token());

    KeywordQueue off(0, 0.0);
    classifier.classifyKeywords("a b b z", off);
    EXPECT_TRUE(off.empty());
    KeywordQueue unknown(30, 0.0);
    classifier.classifyKeywords("z y don't", unknown);
    EXPECT_TRUE(unknown.empty());
}

TEST_F(ClassifierImplTest, ProbabilitiesSumToOneAndFavourTheClassThatHasTheWords) {
    ClassifierImpl classifier = make();
    const std::vector<std::string> names = {"c0", "c1", "c2", "c3", "c4"};
    std::mt19937 random(5);
    for (std::size_t c = 0; c < names.size(); ++c) {
        classifier.addClass(names[c]);
        std::string text;
        for (int i = 0; i < 200; ++i) {
            text += "w" + std::to_string(random() % 50 + c * 30) + " ";
        }
        classifier.train(names[c], text);
    }
    classifier.compact();
    for (int round = 0; round < 50; ++round) {
        std::string text;
        for (int i = 0; i < 20; ++i) text += "w" + std::to_string(random() % 200) + " ";
        double sum = 0.0;
        for (const auto& [name, p] : probabilities(classifier, text)) {
            EXPECT_GE(p, 0.0);
            EXPECT_LE(p, 1.0);
            sum += p;
        }
        EXPECT_NEAR(1.0, sum, 1e-12);
    }
    // c4 was trained with words from w120..w169, and only c4 has w140 and above.
    const auto result = probabilities(classifier, "w150 w151 w152 w153 w154");
    for (const auto& [name, p] : result) {
        if (name != "c4") {
            EXPECT_GT(result.at("c4"), p);
        }
    }
    EXPECT_TRUE(_callbacks.reports().empty());
}

TEST_F(ClassifierImplTest, OneClassGetsEverythingAndCoverageCountsKnownFeatures) {
    ClassifierImpl classifier = make();
    classifier.addClass("only");
    classifier.train("only", "a b");
    classifier.compact();
    double coverage = 0.0;
    EXPECT_EQ((std::map<std::string, double>{{"only", 1.0}}),
              probabilities(classifier, "a x y z", &coverage));
    EXPECT_EQ(0.25, coverage);
}

TEST_F(ClassifierImplTest, UnknownOrNoFeaturesGiveEqualShares) {
    ClassifierImpl classifier = make();
    for (const char* name : {"a", "b", "c"}) classifier.addClass(name);
    classifier.train("a", "x x y");
    classifier.compact();
    for (const char* text : {"p q r", "", "   "}) {
        double coverage = -1.0;
        const auto result = probabilities(classifier, text, &coverage);
        EXPECT_EQ(0.0, coverage) << text;
        for (const auto& [name, p] : result) EXPECT_DOUBLE_EQ(1.0 / 3.0, p) << text;
    }
}

TEST_F(ClassifierImplTest, ZeroSmoothingCanMakeEveryScoreMinusInfinity) {
    ClassifierImpl classifier = make(0.0);
    for (const char* name : {"a", "b", "c"}) classifier.addClass(name);
    classifier.train("a", "x");
    classifier.train("b", "y");
    classifier.train("c", "z");
    classifier.compact();
    // Each word is missing from two classes, which then score ln 0.
    for (const auto& [name, p] : probabilities(classifier, "x y z")) {
        EXPECT_DOUBLE_EQ(1.0 / 3.0, p) << name;
    }
    // Only the class that has the word keeps a finite score.
    EXPECT_EQ((std::map<std::string, double>{{"a", 1.0}, {"b", 0.0}, {"c", 0.0}}),
              probabilities(classifier, "x"));
    EXPECT_TRUE(_callbacks.reports().empty());
}

TEST_F(ClassifierImplTest, InvalidProbabilitiesAreReportedAndStillStored) {
    // An infinite smoothing term makes every score infinite, and inf - inf is not a number.
    ClassifierImpl classifier = make(INFINITY);
    classifier.addClass("a");
    classifier.addClass("b");
    classifier.train("a", "x");
    classifier.compact();
    const auto result = probabilities(classifier, "x");
    EXPECT_TRUE(std::isnan(result.at("a")));
    const std::string tail = "One of the normalized probabilities are not valid.";
    ASSERT_EQ(6u, _callbacks.reports().size());
    for (std::size_t i = 0; i < 6; i += 3) {
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ("ClassifierImpl failure", _callbacks.reports()[i + k]._expression);
        }
        EXPECT_EQ("A probability is not fininte. " + tail, _callbacks.reports()[i]._description);
        EXPECT_EQ("A probability is not a number. " + tail,
                  _callbacks.reports()[i + 1]._description);
        EXPECT_EQ("A probability is not between 0 and 1 inclusive. " + tail,
                  _callbacks.reports()[i + 2]._description);
    }
}

TEST_F(ClassifierImplTest, ClassifyingOverwritesAndNeedsAClass) {
    ClassifierImpl classifier = make();
    Classification result;
    EXPECT_EQ("Trying to classify a text before any classes have been added!",
              messageOf([&] { classifier.classify("x", result); }));
    KeywordQueue queue(30, 0.0);
    EXPECT_EQ("Trying to classify a text before any classes have been added!",
              messageOf([&] { classifier.classifyKeywords("x", queue); }));
    classifier.addClass("a");
    result.setProbability("a", 0.25);
    result.setProbability("other", 0.5);
    classifier.classify("x", result);
    EXPECT_EQ((std::map<std::string, double>{{"a", 1.0}, {"other", 0.5}}),
              result.getProbabilities());
}

TEST_F(ClassifierImplTest, TrainingChecksTheClassOnlyWhenTheTextHasFeatures) {
    ClassifierImpl classifier = make();
    classifier.train("missing", "");
    classifier.untrain("missing", "   ");
    EXPECT_EQ("Trying to train on a class that doesn't exist. Class name 'missing'.",
              messageOf([&] { classifier.train("missing", "word"); }));
    EXPECT_EQ("Trying to untrain on a class that doesn't exist. Class name 'missing'.",
              messageOf([&] { classifier.untrain("missing", "word"); }));
    EXPECT_EQ("When training the classifier the class name must at least have one character.",
              messageOf([&] { classifier.train("", ""); }));
    EXPECT_EQ("When untraining the classifier the class name must at least have one character.",
              messageOf([&] { classifier.untrain("", "word"); }));
    EXPECT_TRUE(classifier.getInformation().empty());
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
    EXPECT_FALSE(classifier.classExists("C"));
    EXPECT_EQ("Trying to remove a nonexisting class with the name 'C'.",
              messageOf([&] { classifier.removeClass("C"); }));
    classifier.removeClass("c");
    EXPECT_FALSE(classifier.classExists("c"));
}

TEST_F(ClassifierImplTest, CloneIsIndependentAndSwapExchangesEverything) {
    ClassifierImpl original = make();
    original.addClass("a");
    original.train("a", "x y");
    original.compact();

    std::unique_ptr<Classifier> copy = original.clone();
    EXPECT_EQ(1, _callbacks.created());  // the copy's callback is a clone, not a new one
    copy->train("a", "x z");
    copy->addClass("b");
    copy->compact();
    EXPECT_EQ(std::vector<ClassInformation>({{"a", 2, 2}}), original.getInformation());
    EXPECT_EQ(std::vector<ClassInformation>({{"a", 3, 4}, {"b", 0, 0}}), copy->getInformation());

    ClassifierImpl other(nullptr, 0.5);
    other.addClass("z");
    original.swap(other);
    EXPECT_EQ(0.5, original.smoothing());
    EXPECT_EQ(0.05, other.smoothing());
    EXPECT_EQ(std::vector<ClassInformation>({{"z", 0, 0}}), original.getInformation());
    EXPECT_EQ(std::vector<ClassInformation>({{"a", 2, 2}}), other.getInformation());
    EXPECT_EQ(1.0, probabilities(other, "x").at("a"));
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

TEST(ClassifierFactoryImplTest, MakesVersionFiveClassifiersWithTheServerSmoothing) {
    RecordingCallbackFactory callbacks;
    const ClassifierFactoryImpl factory(&callbacks);
    const std::unique_ptr<Classifier> classifier = factory.create();
    const auto& impl = dynamic_cast<const ClassifierImpl&>(*classifier);
    EXPECT_EQ(0.05, impl.smoothing());
    EXPECT_EQ(5u, impl.dataVersion());
    EXPECT_EQ(5u, impl.extractorVersion());
    EXPECT_EQ(0u, impl.featureSet().classCount());
    EXPECT_EQ(1, callbacks.created());
}

using DefaultCallbackDeathTest = CheckReportFixture;

TEST_F(DefaultCallbackDeathTest, PrintsTheReportAndEndsThroughAFailedAssertion) {
    EXPECT_DEATH(
        {
            enterDir();
            const int out = ::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            DefaultCallback().onFailure("ClassifierImpl failure", "Something broke.", "Core.cpp",
                                        42);
        },
        "");
    std::ifstream in(_dir / "stdout.txt", std::ios::binary);
    std::ostringstream printed;
    printed << in.rdbuf();
    EXPECT_EQ(0u, printed.str().find("An assertion occurred in the Classifier API.\n"
                                     "This could be serious and you should contact the developer "
                                     "with this information.\n"
                                     "Expression: ClassifierImpl failure\n"
                                     "Description: Something broke.\n"
                                     "File: Core.cpp\n"
                                     "Line: 42\n"
                                     "\n"
                                     "Please report this information to the Quillmark Server "
                                     "support address.\n"
                                     "Thank you for helping us improve our software.\n"))
        << printed.str();
    expectReport("ClassifierImpl failure", "Something broke.");
}

}  // namespace
}  // namespace norvale::classifier
