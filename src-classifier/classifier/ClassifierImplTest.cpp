#include "classifier/ClassifierImpl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "classifier/ClassifierTestSupport.h"
#include "classifier/FeatureExtractor.h"
#include "util/database/DatabaseReader.h"

namespace norvale::classifier {
namespace {

using namespace blobtest;
using namespace std::string_literals;
using util::database::DatabaseReader;
using Features = std::map<std::string, std::uint32_t>;

// Single-letter words are single features under extractor version 5: a word pair needs at
// least 5 bytes and a prefix at least 7, so "a a b" stores exactly a:2 and b:1.
const Training threeClasses = {{"first", "a a b"}, {"second", "b"}, {"third", ""}};

TEST(ClassifierImplTest, WorkedExamples) {
    const double third = 1.0 / 3.0;
    const Training twoClasses = {{"first", "f f g"}, {"second", "h"}};
    const Training unknown = {{"a", "x x y"}, {"b", ""}, {"c", ""}};
    const Training disjoint = {{"a", "x"}, {"b", "y"}, {"c", "z"}};
    // The probabilities are in the order of the class names.
    const struct {
        const char* what;
        Training training;
        std::string text;
        std::vector<double> expected;
        double coverage;
        double smoothing = 0.05;
    } cases[] = {
        {"two classes", twoClasses, "f", {0.999359, 0.000641}, 1.0},
        // The smaller class's count is scaled up to the larger class's size.
        {"word of the smaller", twoClasses, "h", {0.000641, 0.999359}, 1.0},
        // a once (2, 0, 0), b twice (1, 1, 0), z known to no class.
        {"three classes", threeClasses, "a b b z", {0.836250, 0.125950, 0.037801}, 2.0 / 3.0},
        {"one class", {{"only", "a b"}}, "a x y z", {1.0}, 0.25},
        {"unknown words", unknown, "p q r", {third, third, third}, 0},
        {"no words", unknown, "   ", {third, third, third}, 0.0},
        // Each word is missing from two classes, which then score ln 0.
        {"every score minus infinity", disjoint, "x y z", {third, third, third}, 1.0, 0.0},
        {"one finite score", disjoint, "x", {1.0, 0.0, 0.0}, 1.0, 0.0},
    };
    RecordingCallbacks callbacks;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Classification result;
        trainedOn(&callbacks, c.training, c.smoothing)->classify(c.text, result);
        ASSERT_EQ(c.expected.size(), result.getProbabilities().size());
        auto p = c.expected.begin();
        for (const auto& [name, found] : result.getProbabilities()) EXPECT_NEAR(*p++, found, 5e-7);
        EXPECT_NEAR(c.coverage, result.getTextCoverage(), 5e-7);
    }
    EXPECT_TRUE(callbacks._reports.empty());

    // An infinite smoothing term makes every score infinite, and inf - inf is not a number:
    // each class's probability fails the three checks, is reported and still answered.
    Classification broken;
    trainedOn(&callbacks, {{"a", "x"}, {"b", ""}}, INFINITY)->classify("x", broken);
    EXPECT_TRUE(std::isnan(broken.getProbabilities().at("a")));
    ASSERT_EQ(6u, callbacks._reports.size());
    EXPECT_EQ("A probability is not a number. One of the normalized probabilities are not valid.",
              callbacks._reports[1]);
}

// Each known word of the text with its best class, that class's share e_j / E (to 6 places) and
// the word's count in the text; a word qualifies with a share strictly above the threshold, and
// of classes with equal shares the first one wins. Here a: (2, 0, 0), b: (1, 1, 0), E of a =
// 1.791653 + 0.156618 + 0.179456, E of b = 0.333036 + 0.470580 + 0.252392.
TEST(ClassifierImplTest, KeywordsWorkedExample) {
    const struct {
        Training training;
        std::uint32_t capacity;
        double threshold;
        std::string text;
        std::vector<std::string> expected;
    } cases[] = {
        {threeClasses, 30, 0.0, "a b b z", {"a first 0.842050 1", "b second 0.445622 2"}},
        {threeClasses, 30, 1.8 / 4, "A, b. b z", {"a first 0.842050 1"}},
        {threeClasses, 0, 0.0, "a b b z", {}},
        {threeClasses, 30, 0.0, "z y don't", {}},
        {{{"x", "q"}, {"y", "q"}}, 30, 0.0, "q", {"q x 0.500000 1"}},
    };
    for (const auto& c : cases) {
        KeywordQueue queue(c.capacity, c.threshold);
        const auto classifier = trainedOn(nullptr, c.training);  // holds the keywords' bytes
        classifier->classifyKeywords(c.text, queue);
        std::vector<std::string> kept;
        for (const Keyword& k : queue) {
            kept.push_back(std::string(k.tokenView()) + ' ' + k.className() + ' ' +
                           std::to_string(k.probability()) + ' ' + std::to_string(k.count()));
        }
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(c.expected, kept) << c.text;
    }
}

TEST(ClassifierImplTest, CallerErrorsThrowTheirMessagesAndChangeNothing) {
    ClassifierImpl classifier(nullptr, 0.05);
    Classification result;
    KeywordQueue queue(30, 0.0);
    // Without features in the text the class is not even looked up.
    classifier.train("missing", "");
    classifier.untrain("missing", "   ");
    const std::string noClasses = "Trying to classify a text before any classes have been added!";
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { classifier.classify("x", result); }, noClasses},
        {[&] { classifier.classifyKeywords("x", queue); }, noClasses},
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
    // Class indexes are 16-bit: the class after the last one a stored classifier can count is
    // refused, and the full classifier still stores as it was.
    std::string full = header(5) + u16(65535);
    for (std::uint16_t c = 0; c < 65535; ++c)
        full += str(std::to_string(c)) + u16(c) + u32(0) + u32(0);
    full += std::string(32 * 4, '\0');
    classifier.setTrainingData(full);
    EXPECT_EQ(
        "Trying to add the class 'x' to a classifier that has 65535 classes, the most it "
        "can hold.",
        messageOf([&] { classifier.addClass("x"); }));
    EXPECT_EQ(full, classifier.getTrainingData());
}

// A class's total and unique counts follow every way a feature appears or goes; removing a class
// leaves the classifier as if it had never had the class.
TEST(ClassifierImplTest, ClassTotalsFollowTrainingAndRemovalForgetsTheClass) {
    const auto classifier = trainedOn(nullptr, {{"c", ""}, {"d", "abc"}, {"e", "abc abc x y a"}});
    const struct {
        bool untrain;
        const char* text;
        bool compactAfter;
        std::uint32_t total, unique;
    } steps[] = {
        {false, "a a", false, 2, 1},
        {false, "a a a", true, 5, 1},
        {false, "b b b", true, 8, 2},
        {true, "b b b b b", false, 5, 1},  // at most what is there
        {true, "b", false, 5, 1},          // already at zero
        {true, "q q", false, 5, 1},        // never there
        {true, "a a a a a", false, 0, 0},
        {false, "a", true, 1, 1},  // revived before compaction
        {true, "a", true, 0, 0},
        {false, "a", false, 1, 1},  // trained after compaction
    };
    for (const auto& s : steps) {
        s.untrain ? classifier->untrain("c", s.text) : classifier->train("c", s.text);
        if (s.compactAfter) classifier->compact();
        EXPECT_EQ(ClassInformation("c", s.unique, s.total), classifier->getInformation()[0])
            << (s.untrain ? "untrain " : "train ") << s.text;
    }
    classifier->removeClass("c");
    const auto never = trainedOn(nullptr, {{"d", "abc"}, {"e", "abc abc x y a"}});
    EXPECT_EQ(never->getTrainingData(), classifier->getTrainingData());
    EXPECT_EQ(readings(*never, "abc a x q"), readings(*classifier, "abc a x q"));
}

// Training collects beside the sorted counts until a compaction, which may come after every call
// or seldom; a batch of calls noted in an undo log may be taken back; a classifier may load what
// another wrote. Random call sequences under each extractor version, run on a classifier that
// compacts after every call and on one that compacts only when its backlog has grown and now and
// then loads the other's bytes, must agree on every refusal, reading, stored byte and size at
// every step; a batch taken back must leave the bytes as before it.
TEST(ClassifierImplTest, UncompactedAndUndoneTrainingReadsAsCompactedTraining) {
    const std::vector<std::string> words = {"a",     "b",     "cc",     "ddd",
                                            "hello", "world", "World,", "longerword",
                                            "again", "x y",   "spam",   "\xC3\xA9t\xC3\xA9"};
    const std::vector<std::string> names = {"red", "green", "blue", "gr\xC3\xA9y"};
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
        const auto eager = trainedOn(nullptr, {}, 0.05, 3 + seed % 5);
        const auto lazy = trainedOn(nullptr, {}, 0.05, 3 + seed % 5);
        for (int step = 0; step < 300; ++step) {
            SCOPED_TRACE(step);
            const std::string name = pick(names);
            const std::string text = textOf();
            const unsigned operation = random() % 21;
            const auto both = [&](const std::function<void(Classifier&, bool)>& call) {
                ASSERT_EQ(messageOf([&] { call(*eager, true); }),
                          messageOf([&] { call(*lazy, false); }));
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
                const std::string before = lazy->getTrainingData();
                UndoLog undo;
                for (unsigned call = random() % 8; call > 0; --call) {
                    const std::string className = pick(names);
                    if (!lazy->classExists(className)) continue;
                    random() % 3 == 0 ? lazy->untrain(className, textOf(), undo)
                                      : lazy->train(className, textOf(), undo);
                }
                lazy->undo(undo);
                ASSERT_TRUE(undo.changes().empty());
                ASSERT_EQ(before, lazy->getTrainingData());
            } else if (operation < 20) {
                lazy->compactBacklog(random() % 4);
            } else {
                lazy->setTrainingData(eager->getTrainingData());
            }
            const std::string data = eager->getTrainingData();
            ASSERT_EQ(data, lazy->getTrainingData());
            ASSERT_EQ(data.size(), eager->trainingDataSize());
            ASSERT_EQ(data.size(), lazy->trainingDataSize());
            if (eager->getInformation().empty()) continue;
            ASSERT_EQ(readings(*eager, text), readings(*lazy, text));
        }
    }
}

// The features of one class and their counts, over all lanes.
Features featuresOf(const ClassifierImpl& classifier, std::uint16_t classIndex) {
    Features features;
    const storage::FeatureSet& set = classifier.featureSet();
    for (std::size_t k = 0; k < set.laneCount(); ++k) {
        for (storage::LaneIterator it = set.lane(k).begin(); it != set.lane(k).end(); ++it) {
            if (it.classIndex() == classIndex) features[std::string(it.feature())] = it.count();
        }
    }
    return features;
}

// A format 5 blob of extractor version 3 with the classes "a" and "b\0n" whose only non-empty
// lane is the one of 2-byte features.
std::string twoClassBlob(std::uint16_t secondIndex, std::uint32_t firstTotal,
                         const std::string& records, std::uint32_t recordCount) {
    std::string blob = header(3, 0.125) + u16(2) + str("a") + u16(0) + u32(firstTotal) + u32(2) +
                       str("b\0n"s) + u16(secondIndex) + u32(9) + u32(1);
    for (int k = 0; k < 32; ++k) blob += k == 2 ? u32(recordCount) + records : u32(0);
    return blob;
}

// A failed load, whatever failed, changes nothing; this includes data a classification or a
// later train would stop on. A successful load replaces everything, and the bytes it loaded
// are the bytes a classifier trained to the same state writes.
TEST(ClassifierImplDataTest, RefusedBlobsThrowTheirMessagesAndChangeNothing) {
    RecordingCallbacks callbacks;
    const auto classifier = trainedOn(&callbacks, {{"spam", "Cheap!"}, {"ham", "Notes"}}, 0.05, 7);
    const std::string before = classifier->getTrainingData();
    const std::string block = distributionBlock({"" + u32(1)});
    const std::string corrupt =
        "The data that the Classifier is being set with seems to be corrupt. ";
    const std::string primitive = corrupt + std::string(DatabaseReader::PrimitiveCorrupt);
    const std::string legacy = legacyBlob(4, 1, str("name") + block);
    const std::string good = record("aa", 0, 3) + record("aa", 1, 9) + record("zz", 0, 4);
    const std::string inconsistent = corrupt + "The stored feature set is inconsistent: ";
    const std::string order = inconsistent + "records are out of order or repeated.";
    const std::string version = "Trying to set the training data with a version that is not valid";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "Trying to load classifier with empty training data."},
        {"\x05\0\0"s, primitive},
        {header(5, 0.05, 2) + emptyPayload(), version + " (2). Aborting."},
        {header(5, 0.05, 6) + emptyPayload(), version + " (6). Aborting."},
        {header(2) + emptyPayload(), "Unrecognized data version for feature extractor 2"},
        {header(8) + emptyPayload(), "Unrecognized data version for feature extractor 8"},
        {legacyBlob(4, 2, str("dup") + block + str("dup") + block),
         "Trying to add an already existing class with the name 'dup'. Use classExists to find "
         "out if a class already is added."},
        {legacyBlob(4, 1, str("") + block), "Trying to add a class with an empty name."},
        {legacyBlob(4, 65536, ""),
         "Trying to convert old data with 65536 classes; a classifier holds at most 65535."},
        // The largest count is allowed; the data then runs out at the second name.
        {legacyBlob(4, 65535, str("a") + block), primitive},
        {legacyBlob(3, 3, str("a") + block + str("b")), primitive},
        {legacy.substr(0, 14), corrupt + std::string(DatabaseReader::StringCorrupt)},
        {legacy.substr(0, legacy.size() - 1),
         corrupt + std::string(DatabaseReader::CharStreamCorrupt)},
        {twoClassBlob(0, 7, good, 3), inconsistent + "a class record is out of place."},
        {twoClassBlob(1, 7, good + record("zz", 2, 1), 4),
         inconsistent + "a record names a class that does not exist."},
        {twoClassBlob(1, 7, record("aa", 0, 0) + record("aa", 1, 9), 2),
         inconsistent + "a record has a count of zero."},
        {twoClassBlob(1, 7, record("aa", 0, 3) + record("aa", 0, 4), 2), order},
        {twoClassBlob(1, 7, record("aa", 1, 9) + record("aa", 0, 3), 2), order},
        {twoClassBlob(1, 7, record("zz", 0, 4) + record("aa", 0, 3), 2), order},
        {twoClassBlob(1, 6, good, 3),
         inconsistent + "a class total is below the counts stored for the class."},
    };
    for (const auto& [data, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(message, messageOf([&] { classifier->setTrainingData(data); }));
        EXPECT_EQ(before, classifier->getTrainingData());
    }
    const std::string loaded = twoClassBlob(1, 7, good, 3);
    for (std::size_t cut = 0; cut < loaded.size(); ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_NE("(nothing thrown)",
                  messageOf([&] { classifier->setTrainingData(loaded.substr(0, cut)); }));
        EXPECT_EQ(before, classifier->getTrainingData());
    }

    classifier->setTrainingData(loaded);
    EXPECT_EQ(loaded, classifier->getTrainingData());
    EXPECT_EQ(
        loaded,
        trainedOn(nullptr, {{"a", "aa aa aa zz zz zz zz"}, {"b\0n"s, "aa aa aa aa aa aa aa aa aa"}},
                  0.125, 3)
            ->getTrainingData());

    // Trailing bytes are reported once and the load completes.
    classifier->setTrainingData(before + "x");
    EXPECT_EQ(std::vector<std::string>{"There should exist no more training data at this point."},
              callbacks._reports);
    EXPECT_EQ(before, classifier->getTrainingData());
}

// Old blobs: zero counts are dropped, repeated tokens of a class add up, whole records only,
// lanes past the longest feature are passed over, a blob may end after the last class name.
TEST(ClassifierImplDataTest, LegacyBlobsLoadAsCurrentClassifiersOfTheirExtractor) {
    std::vector<std::string> lanes(34);
    lanes[1] = "b" + u32(3) + "z" + u32(0) + "c" + u32(1) + "b" + u32(2) +
               "xyz";  // three bytes short of another record
    lanes[2] = "pq";   // shorter than one record
    lanes[3] = "cab" + u32(2);
    lanes[31] = std::string(31, 'L') + u32(6);
    lanes[32] = std::string(32, 'T') + u32(9);
    lanes[33] = "not a record at all";
    const std::string classes = str("first") + distributionBlock(lanes) + str("empty") +
                                distributionBlock({}) + str("second") +
                                distributionBlock({"", "b" + u32(7)});
    for (const std::uint32_t version : {3u, 4u}) {
        SCOPED_TRACE(version);
        const auto classifier = trainedOn(nullptr, {{"spam", "Cheap pills!"}}, 0.05, 7);
        classifier->setTrainingData(legacyBlob(version, 3, classes));
        EXPECT_EQ(
            (std::vector<ClassInformation>{{"first", 4, 14}, {"empty", 0, 0}, {"second", 1, 7}}),
            classifier->getInformation());
        EXPECT_EQ((Features{{"b", 5}, {"c", 1}, {"cab", 2}, {std::string(31, 'L'), 6}}),
                  featuresOf(*classifier, 0));
        EXPECT_EQ((Features{{"b", 7}}), featuresOf(*classifier, 2));

        // It is written in the current format, with its extractor, and reads back as it is.
        const std::string data = classifier->getTrainingData();
        EXPECT_EQ(header(version), data.substr(0, 16));
        ClassifierImpl reloaded(nullptr, 0.05);
        reloaded.setTrainingData(data);
        EXPECT_EQ(data, reloaded.getTrainingData());

        // Trained further, it uses the old tokenisation.
        classifier->train("empty", "alpha beta, gamma");
        classifier->compact();
        FeatureCounts expected;
        createFeatureExtractor(version)->extract("alpha beta, gamma", expected);
        EXPECT_EQ(Features(expected.begin(), expected.end()), featuresOf(*classifier, 1));
    }

    ClassifierImpl classifier(nullptr, 0.05);  // bytes left over would be reported
    classifier.setTrainingData(legacyBlob(4, 0, ""));
    EXPECT_TRUE(classifier.getInformation().empty());
    const std::string block = distributionBlock({"" + u32(4)});
    classifier.setTrainingData(legacyBlob(3, 2, str("a") + block + str("b")));
    EXPECT_EQ(ClassInformation("b", 0, 0), classifier.getInformation()[1]);
    classifier.setTrainingData(legacyBlob(4, 1, str("a") + block + "trailing"));
    EXPECT_EQ((Features{{"", 4}}), featuresOf(classifier, 0));

    // A record of the empty feature carries a filler byte in front of its class index (the
    // last lane record before 31 empty lanes); whatever it holds is written back as read.
    std::string data = classifier.getTrainingData();
    data[data.size() - 31 * 4 - 7] = '\x7F';
    classifier.setTrainingData(data);
    EXPECT_EQ(data, classifier.getTrainingData());
}

}  // namespace
}  // namespace norvale::classifier
