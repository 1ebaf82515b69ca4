#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "classifier/BlobTestSupport.h"
#include "classifier/ClassifierException.h"
#include "classifier/ClassifierImpl.h"
#include "classifier/ClassifierTestSupport.h"
#include "classifier/FeatureExtractor.h"
#include "util/database/DatabaseReader.h"

namespace norvale::classifier {
namespace {

using namespace blobtest;
using namespace std::string_literals;
using storage::ClassRecord;
using storage::LaneIterator;
using util::database::DatabaseReader;

const std::string Corrupt = "The data that the Classifier is being set with seems to be corrupt. ";
const std::string Trailing = "There should exist no more training data at this point.";

std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ClassifierException& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

using Features = std::map<std::string, std::uint32_t>;

Features sorted(const FeatureCounts& counts) {
    return Features(counts.begin(), counts.end());
}

// The features of one class and their counts, over all lanes.
Features featuresOf(const ClassifierImpl& classifier, std::uint16_t classIndex) {
    Features features;
    const storage::FeatureSet& set = classifier.featureSet();
    for (std::size_t k = 0; k < set.laneCount(); ++k) {
        for (LaneIterator it = set.lane(k).begin(); it != set.lane(k).end(); ++it) {
            if (it.classIndex() == classIndex) features[std::string(it.feature())] = it.count();
        }
    }
    return features;
}

class ClassifierImplDataTest : public testing::Test {
protected:
    ClassifierImpl make() { return ClassifierImpl(&_callbacks, 0.05); }

    // A classifier of the given extractor version with three trained classes.
    std::unique_ptr<ClassifierImpl> trained(std::uint32_t extractorVersion) {
        auto owner = std::make_unique<ClassifierImpl>(&_callbacks, 0.05);
        ClassifierImpl& classifier = *owner;
        classifier.setTrainingData(header(extractorVersion) + emptyPayload());
        classifier.addClass("spam");
        classifier.addClass("ham");
        classifier.addClass("\xC3\xA9t\xC3\xA9");
        classifier.train("spam", "Buy cheap pills now! Cheap, CHEAP offers; click here.");
        classifier.train("ham", "Meeting notes: the quarterly report is due on Friday.");
        classifier.train("\xC3\xA9t\xC3\xA9", "soleil plage vacances \xC3\xA9t\xC3\xA9 chaud");
        classifier.train("spam", "a b c d e f g h i j k l m n o p q r s t u v w x y z");
        classifier.compact();
        classifier.untrain("spam", "click here");
        classifier.compact();
        return owner;
    }

    std::size_t reportsOf(const std::string& description) const {
        std::size_t found = 0;
        for (const FailureReport& report : _callbacks.reports()) {
            if (report._expression == "ClassifierImpl failure" &&
                report._description == description) {
                ++found;
            }
        }
        return found;
    }

    RecordingCallbackFactory _callbacks;
};

TEST_F(ClassifierImplDataTest, NewClassifierWritesTheHeaderAndAnEmptyFeatureSet) {
    const ClassifierImpl classifier = make();
    const std::string data = classifier.getTrainingData();
    ASSERT_EQ(146u, data.size());
    EXPECT_EQ("\x05\0\0\0\x05\0\0\0\x9A\x99\x99\x99\x99\x99\xA9\x3F"s, data.substr(0, 16));
    EXPECT_EQ(emptyPayload(), data.substr(16));
}

// For every extractor version: the loaded classifier tokenises with that version, and writing,
// loading and writing again gives the same bytes and the same classifications.
TEST_F(ClassifierImplDataTest, RoundTripIsByteIdenticalUnderEveryExtractorVersion) {
    const std::string text = "Cheap report, pills on Friday! \xC3\xA9t\xC3\xA9 soleil";
    for (std::uint32_t version = 3; version <= 7; ++version) {
        SCOPED_TRACE(version);
        const std::unique_ptr<ClassifierImpl> owner = trained(version);
        const ClassifierImpl& original = *owner;
        EXPECT_EQ(version, original.extractorVersion());
        FeatureCounts expected;
        createFeatureExtractor(version)->extract(
            "Meeting notes: the quarterly report is due on Friday.", expected);
        EXPECT_EQ(sorted(expected), featuresOf(original, 1));

        const std::string data = original.getTrainingData();
        EXPECT_EQ(header(version), data.substr(0, 16));
        ClassifierImpl loaded = make();
        loaded.setTrainingData(data);
        EXPECT_EQ(data, loaded.getTrainingData());
        EXPECT_EQ(version, loaded.extractorVersion());
        EXPECT_EQ(5u, loaded.dataVersion());
        EXPECT_EQ(original.getInformation(), loaded.getInformation());

        Classification before;
        Classification after;
        original.classify(text, before);
        loaded.classify(text, after);
        EXPECT_EQ(before.getProbabilities(), after.getProbabilities());
        EXPECT_EQ(before.getTextCoverage(), after.getTextCoverage());
    }
    EXPECT_EQ(0u, _callbacks.reports().size());
}

TEST_F(ClassifierImplDataTest, UnacceptableBlobsThrowTheirMessages) {
    ClassifierImpl classifier = make();
    EXPECT_EQ("Trying to load classifier with empty training data.",
              messageOf([&] { classifier.setTrainingData(""); }));
    for (const std::uint32_t version : {0u, 1u, 2u, 6u, 7u, 0xFFFFFFFFu}) {
        EXPECT_EQ("Trying to set the training data with a version that is not valid (" +
                      std::to_string(version) + "). Aborting.",
                  messageOf([&] { classifier.setTrainingData(header(5, 0.05, version) +
                                                             emptyPayload()); }));
    }
    for (const std::uint32_t extractor : {0u, 2u, 8u, 0xFFFFFFFFu}) {
        EXPECT_EQ("Unrecognized data version for feature extractor " + std::to_string(extractor),
                  messageOf([&] { classifier.setTrainingData(header(extractor) + emptyPayload()); }));
    }
    // Fewer than four bytes cannot even hold the version.
    for (const std::string& shortData : {"\x05"s, "\x05\0"s, "\x05\0\0"s, "\x04\0\0"s}) {
        EXPECT_EQ(Corrupt + std::string(DatabaseReader::PrimitiveCorrupt),
                  messageOf([&] { classifier.setTrainingData(shortData); }));
    }
}

TEST_F(ClassifierImplDataTest, TrailingBytesAreReportedAndTheLoadCompletes) {
    const std::string data = trained(6)->getTrainingData();
    ClassifierImpl loaded = make();
    loaded.setTrainingData(data + "x");
    EXPECT_EQ(1u, reportsOf(Trailing));
    EXPECT_EQ(1u, _callbacks.reports().size());
    EXPECT_EQ(data, loaded.getTrainingData());
    EXPECT_EQ(6u, loaded.extractorVersion());
}

// A successful load replaces everything; a failed one, whatever failed, changes nothing.
TEST_F(ClassifierImplDataTest, LoadReplacesTheContentOrLeavesItAsItWas) {
    const std::unique_ptr<ClassifierImpl> owner = trained(7);
    ClassifierImpl& classifier = *owner;
    const std::string before = classifier.getTrainingData();
    const std::string block = distributionBlock({tokenRecord("", 1)});
    const std::vector<std::string> failing = {
        "",
        header(5, 0.05, 9) + emptyPayload(),
        header(9) + emptyPayload(),
        header(5, 0.5) + emptyPayload().substr(1),
        before.substr(0, before.size() - 3),
        legacyBlob(4, 2, legacyClass("dup", block) + legacyClass("dup", block)),
        legacyBlob(3, 2, legacyClass("one", block)),
    };
    for (const std::string& data : failing) {
        EXPECT_NE("(nothing thrown)", messageOf([&] { classifier.setTrainingData(data); }));
        EXPECT_EQ(before, classifier.getTrainingData());
        EXPECT_EQ(7u, classifier.extractorVersion());
        EXPECT_EQ(0.05, classifier.smoothing());
    }
    // The failing legacy blob converts before anything is loaded: its class is not there.
    EXPECT_FALSE(classifier.classExists("one"));
    EXPECT_TRUE(classifier.classExists("spam"));

    classifier.setTrainingData(header(3, 0.125) + emptyPayload());
    EXPECT_EQ(0u, classifier.getInformation().size());
    EXPECT_EQ(3u, classifier.extractorVersion());
    EXPECT_EQ(0.125, classifier.smoothing());
    EXPECT_EQ(header(3, 0.125) + emptyPayload(), classifier.getTrainingData());
}

TEST_F(ClassifierImplDataTest, LegacyBlobsLoadAsCurrentClassifiersOfTheirExtractor) {
    const std::string first =
        distributionBlock({"", tokenRecord("b", 3) + tokenRecord("z", 0) + tokenRecord("c", 1),
                           "", tokenRecord("cab", 2)});
    for (const std::uint32_t version : {3u, 4u}) {
        SCOPED_TRACE(version);
        const std::unique_ptr<ClassifierImpl> owner = trained(7);
        ClassifierImpl& classifier = *owner;
        classifier.setTrainingData(legacyBlob(
            version, 2, legacyClass("first", first) + legacyClass("second", distributionBlock({}))));
        EXPECT_EQ(version, classifier.extractorVersion());
        EXPECT_EQ(5u, classifier.dataVersion());
        EXPECT_EQ(0.05, classifier.smoothing());
        ASSERT_EQ(2u, classifier.featureSet().classCount());
        EXPECT_EQ((ClassRecord{"first", 0, 6, 3}), classifier.featureSet().classAt(0));
        EXPECT_EQ((ClassRecord{"second", 1, 0, 0}), classifier.featureSet().classAt(1));
        EXPECT_EQ((Features{{"b", 3}, {"c", 1}, {"cab", 2}}),
                  featuresOf(classifier, 0));

        // It is written in the current format and reads back as it is.
        const std::string data = classifier.getTrainingData();
        EXPECT_EQ(header(version), data.substr(0, 16));
        ClassifierImpl reloaded = make();
        reloaded.setTrainingData(data);
        EXPECT_EQ(data, reloaded.getTrainingData());

        // Trained further, it uses the old tokenisation.
        classifier.train("second", "alpha beta, gamma");
        classifier.compact();
        FeatureCounts expected;
        createFeatureExtractor(version)->extract("alpha beta, gamma", expected);
        EXPECT_EQ(sorted(expected), featuresOf(classifier, 1));
    }
    EXPECT_EQ(0u, _callbacks.reports().size());
}

TEST_F(ClassifierImplDataTest, LegacyEdgeCases) {
    const std::string block = distributionBlock({tokenRecord("", 4)});
    ClassifierImpl classifier = make();

    classifier.setTrainingData(legacyBlob(4, 0, ""));
    EXPECT_EQ(0u, classifier.featureSet().classCount());
    EXPECT_EQ(4u, classifier.extractorVersion());

    // Ends right after the last name: that class has no features. Trailing bytes after the
    // last class are ignored without a report.
    classifier.setTrainingData(legacyBlob(3, 2, legacyClass("a", block) + str("b")));
    EXPECT_EQ((ClassRecord{"a", 0, 4, 1}), classifier.featureSet().classAt(0));
    EXPECT_EQ((ClassRecord{"b", 1, 0, 0}), classifier.featureSet().classAt(1));
    EXPECT_EQ((Features{{"", 4}}), featuresOf(classifier, 0));
    classifier.setTrainingData(legacyBlob(4, 1, legacyClass("a", block) + "trailing"));
    EXPECT_EQ(1u, classifier.featureSet().classCount());
    EXPECT_EQ(0u, _callbacks.reports().size());

    EXPECT_EQ(Corrupt + std::string(DatabaseReader::PrimitiveCorrupt),
              messageOf([&] {
                  classifier.setTrainingData(legacyBlob(3, 3, legacyClass("a", block) + str("b")));
              }));
    EXPECT_EQ(1u, classifier.featureSet().classCount());
}

// Damaged blobs, every prefix and a few thousand deterministic mutations of valid ones, either
// load or throw ClassifierException; a failed load leaves the classifier as it was, and what
// loads writes itself back to bytes that load again to the same bytes.
class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : _random(seed) {}

    std::string mutate(std::string data) {
        const std::size_t steps = 1 + next(3);
        for (std::size_t step = 0; step < steps && !data.empty(); ++step) {
            const std::size_t at = next(data.size());
            static const std::uint32_t interesting[] = {0, 1, 2, 31, 32, 0xFFFF, 0x10000,
                                                        0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
            switch (next(5)) {
                case 0: data[at] = static_cast<char>(data[at] ^ (1 << next(8))); break;
                case 1: data.replace(at, 4, u32(interesting[next(std::size(interesting))])); break;
                case 2: data.resize(at); break;
                case 3: data.insert(at, std::string(1 + next(8), static_cast<char>(next(256)))); break;
                default: data.erase(at, 1 + next(16)); break;
            }
        }
        return data;
    }

private:
    std::size_t next(std::size_t bound) { return _random() % bound; }

    std::mt19937 _random;
};

// A format 5 blob of two classes whose only non-empty lane is the one of 2-byte features.
std::string twoClassBlob(std::uint16_t secondIndex, std::uint32_t firstTotal,
                         const std::string& records, std::uint32_t recordCount) {
    std::string blob = header(5) + u16(2) + str("a") + u16(0) + u32(firstTotal) + u32(2) +
                       str("b") + u16(secondIndex) + u32(9) + u32(1);
    for (int k = 0; k < 32; ++k) blob += k == 2 ? u32(recordCount) + records : u32(0);
    return blob;
}

std::string record2(std::string_view feature, std::uint16_t classIndex, std::uint32_t count) {
    return std::string(feature) + u16(classIndex) + u32(count);
}

// Data a classification or a later train would stop on is refused at load instead.
TEST_F(ClassifierImplDataTest, InconsistentFeatureSetsAreRefusedAsCorrupt) {
    const std::string good = record2("aa", 0, 3) + record2("aa", 1, 9) + record2("zz", 0, 4);
    struct Case {
        const char* what;
        std::string blob;
        std::string message;
    };
    const std::string prefix = Corrupt + "The stored feature set is inconsistent: ";
    const std::vector<Case> cases = {
        {"consistent", twoClassBlob(1, 7, good, 3), "(nothing thrown)"},
        {"class record out of place", twoClassBlob(0, 7, good, 3),
         prefix + "a class record is out of place."},
        {"unknown class", twoClassBlob(1, 7, good + record2("zz", 2, 1), 4),
         prefix + "a record names a class that does not exist."},
        {"zero count", twoClassBlob(1, 7, record2("aa", 0, 0) + record2("aa", 1, 9), 2),
         prefix + "a record has a count of zero."},
        {"repeated pair", twoClassBlob(1, 7, record2("aa", 0, 3) + record2("aa", 0, 4), 2),
         prefix + "records are out of order or repeated."},
        {"classes out of order", twoClassBlob(1, 7, record2("aa", 1, 9) + record2("aa", 0, 3), 2),
         prefix + "records are out of order or repeated."},
        {"features out of order", twoClassBlob(1, 7, record2("zz", 0, 4) + record2("aa", 0, 3), 2),
         prefix + "records are out of order or repeated."},
        {"total below the counts", twoClassBlob(1, 6, good, 3),
         prefix + "a class total is below the counts stored for the class."},
    };
    for (const Case& c : cases) {
        ClassifierImpl classifier = make();
        EXPECT_EQ(c.message, messageOf([&] { classifier.setTrainingData(c.blob); })) << c.what;
        EXPECT_EQ(c.message == "(nothing thrown)" ? 2u : 0u, classifier.featureSet().classCount())
            << c.what;
    }
    // What loads can be classified and untrained without a failed check.
    ClassifierImpl classifier = make();
    classifier.setTrainingData(twoClassBlob(1, 7, good, 3));
    Classification result;
    classifier.classify("aa zz", result);
    EXPECT_EQ(2u, result.getProbabilities().size());
    classifier.untrain("a", "aa aa aa zz zz zz zz zz");
    EXPECT_EQ(0u, classifier.featureSet().classAt(0)._count);
}

TEST_F(ClassifierImplDataTest, DamagedBlobsLoadOrThrowAndNeverHalfLoad) {
    const std::string current = trained(4)->getTrainingData();
    std::string tokens;
    for (int i = 0; i < 5; ++i) tokens += tokenRecord(std::string(1, 'a' + i), i);
    const std::string legacy = legacyBlob(
        4, 3,
        legacyClass("x", distributionBlock({tokenRecord("", 2), tokens, tokenRecord("pq", 7)})) +
            legacyClass("y", distributionBlock({"", tokenRecord("b", 1)})) +
            legacyClass("z", distributionBlock({})));
    const std::unique_ptr<ClassifierImpl> owner = trained(6);
    ClassifierImpl& target = *owner;
    const std::string targetData = target.getTrainingData();

    std::size_t loaded = 0;
    std::size_t refused = 0;
    const auto attempt = [&](const std::string& data) {
        try {
            target.setTrainingData(data);
        } catch (const ClassifierException&) {
            ++refused;
            ASSERT_EQ(targetData, target.getTrainingData());
            return;
        }
        ++loaded;
        const std::string written = target.getTrainingData();
        ClassifierImpl again = make();
        again.setTrainingData(written);
        ASSERT_EQ(written, again.getTrainingData());
        target.setTrainingData(targetData);
    };

    // Every part of a current blob is needed; parts of the old format may be missing.
    for (std::size_t cut = 0; cut < current.size(); ++cut) attempt(current.substr(0, cut));
    EXPECT_EQ(current.size(), refused);
    for (std::size_t cut = 0; cut <= legacy.size(); ++cut) attempt(legacy.substr(0, cut));
    Mutator mutator(20261206);
    for (int i = 0; i < 1500; ++i) attempt(mutator.mutate(current));
    for (int i = 0; i < 1500; ++i) attempt(mutator.mutate(legacy));

    // Both outcomes must have been exercised, or the mutations test nothing.
    EXPECT_GT(loaded, 100u);
    EXPECT_GT(refused, 1000u);
}

}  // namespace
}  // namespace norvale::classifier
