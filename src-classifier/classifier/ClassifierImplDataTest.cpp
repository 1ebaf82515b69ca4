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

using Features = std::map<std::string, std::uint32_t>;

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

Features extracted(std::uint32_t version, std::string_view text) {
    FeatureCounts counts;
    createFeatureExtractor(version)->extract(text, counts);
    return Features(counts.begin(), counts.end());
}

class ClassifierImplDataTest : public testing::Test {
protected:
    ClassifierImpl make() { return ClassifierImpl(&_callbacks, 0.05); }

    // A classifier of the given extractor version with three trained classes.
    std::unique_ptr<ClassifierImpl> trained(std::uint32_t extractorVersion) {
        auto classifier = std::make_unique<ClassifierImpl>(&_callbacks, 0.05);
        classifier->setTrainingData(header(extractorVersion) + emptyPayload());
        classifier->addClass("spam");
        classifier->addClass("ham");
        classifier->addClass("\xC3\xA9t\xC3\xA9");
        classifier->train("spam", "Buy cheap pills now! Cheap, CHEAP offers; click here.");
        classifier->train("ham", "Meeting notes: the quarterly report is due on Friday.");
        classifier->train("\xC3\xA9t\xC3\xA9", "soleil plage vacances \xC3\xA9t\xC3\xA9 chaud");
        classifier->train("spam", "a b c d e f g h i j k l m n o p q r s t u v w x y z");
        classifier->compact();
        classifier->untrain("spam", "click here");
        classifier->compact();
        return classifier;
    }

    RecordingCallbackFactory _callbacks;
};

// For every extractor version: the loaded classifier tokenises with that version, and writing,
// loading and writing again gives the same bytes and the same classifications.
TEST_F(ClassifierImplDataTest, RoundTripIsByteIdenticalUnderEveryExtractorVersion) {
    const std::string text = "Cheap report, pills on Friday! \xC3\xA9t\xC3\xA9 soleil";
    for (std::uint32_t version = 3; version <= 7; ++version) {
        SCOPED_TRACE(version);
        const std::unique_ptr<ClassifierImpl> original = trained(version);
        EXPECT_EQ(extracted(version, "Meeting notes: the quarterly report is due on Friday."),
                  featuresOf(*original, 1));

        const std::string data = original->getTrainingData();
        EXPECT_EQ(header(version), data.substr(0, 16));
        ClassifierImpl loaded = make();
        loaded.setTrainingData(data);
        EXPECT_EQ(data, loaded.getTrainingData());
        EXPECT_EQ(version, loaded.extractorVersion());
        EXPECT_EQ(original->getInformation(), loaded.getInformation());

        Classification before;
        Classification after;
        original->classify(text, before);
        loaded.classify(text, after);
        EXPECT_EQ(before.getProbabilities(), after.getProbabilities());
        EXPECT_EQ(before.getTextCoverage(), after.getTextCoverage());
    }
    EXPECT_TRUE(_callbacks.reports().empty());

    // Trailing bytes are reported once and the load completes.
    const std::string data = trained(6)->getTrainingData();
    ClassifierImpl loaded = make();
    loaded.setTrainingData(data + "x");
    ASSERT_EQ(1u, _callbacks.reports().size());
    EXPECT_EQ("There should exist no more training data at this point.",
              _callbacks.reports()[0]._description);
    EXPECT_EQ(data, loaded.getTrainingData());
}

// A format 5 blob of two classes whose only non-empty lane is the one of 2-byte features.
std::string twoClassBlob(std::uint16_t secondIndex, std::uint32_t firstTotal,
                         const std::string& records, std::uint32_t recordCount) {
    std::string blob = header(3, 0.125) + u16(2) + str("a") + u16(0) + u32(firstTotal) + u32(2) +
                       str("b") + u16(secondIndex) + u32(9) + u32(1);
    for (int k = 0; k < 32; ++k) blob += k == 2 ? u32(recordCount) + records : u32(0);
    return blob;
}

std::string record2(std::string_view feature, std::uint16_t classIndex, std::uint32_t count) {
    return std::string(feature) + u16(classIndex) + u32(count);
}

// A failed load, whatever failed, changes nothing; this includes data a classification or a
// later train would stop on. A successful load replaces everything.
TEST_F(ClassifierImplDataTest, RefusedBlobsThrowTheirMessagesAndChangeNothing) {
    const std::unique_ptr<ClassifierImpl> classifier = trained(7);
    const std::string before = classifier->getTrainingData();
    const std::string block = distributionBlock({tokenRecord("", 1)});
    const std::string primitive = Corrupt + std::string(DatabaseReader::PrimitiveCorrupt);
    const std::string legacy = legacyBlob(4, 1, legacyClass("name", block));
    const std::string good = record2("aa", 0, 3) + record2("aa", 1, 9) + record2("zz", 0, 4);
    const std::string inconsistent = Corrupt + "The stored feature set is inconsistent: ";
    const std::string order = inconsistent + "records are out of order or repeated.";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "Trying to load classifier with empty training data."},
        {"\x05\0\0"s, primitive},
        {header(5, 0.05, 2) + emptyPayload(),
         "Trying to set the training data with a version that is not valid (2). Aborting."},
        {header(5, 0.05, 6) + emptyPayload(),
         "Trying to set the training data with a version that is not valid (6). Aborting."},
        {header(2) + emptyPayload(), "Unrecognized data version for feature extractor 2"},
        {header(8) + emptyPayload(), "Unrecognized data version for feature extractor 8"},
        {header(5, 0.5) + emptyPayload().substr(1), primitive},
        {before.substr(0, before.size() - 3), primitive},
        {legacyBlob(4, 2, legacyClass("dup", block) + legacyClass("dup", block)),
         "Trying to add an already existing class with the name 'dup'. Use classExists to find "
         "out if a class already is added."},
        {legacyBlob(4, 1, legacyClass("", block)), "Trying to add a class with an empty name."},
        {legacyBlob(4, 65536, ""),
         "Trying to convert old data with 65536 classes; a classifier holds at most 65535."},
        // The largest count is allowed; the data then runs out at the second name.
        {legacyBlob(4, 65535, legacyClass("a", block)), primitive},
        {legacyBlob(3, 3, legacyClass("a", block) + str("b")), primitive},
        {legacy.substr(0, 14), Corrupt + std::string(DatabaseReader::StringCorrupt)},
        {legacy.substr(0, legacy.size() - 1),
         Corrupt + std::string(DatabaseReader::CharStreamCorrupt)},
        {twoClassBlob(0, 7, good, 3), inconsistent + "a class record is out of place."},
        {twoClassBlob(1, 7, good + record2("zz", 2, 1), 4),
         inconsistent + "a record names a class that does not exist."},
        {twoClassBlob(1, 7, record2("aa", 0, 0) + record2("aa", 1, 9), 2),
         inconsistent + "a record has a count of zero."},
        {twoClassBlob(1, 7, record2("aa", 0, 3) + record2("aa", 0, 4), 2), order},
        {twoClassBlob(1, 7, record2("aa", 1, 9) + record2("aa", 0, 3), 2), order},
        {twoClassBlob(1, 7, record2("zz", 0, 4) + record2("aa", 0, 3), 2), order},
        {twoClassBlob(1, 6, good, 3),
         inconsistent + "a class total is below the counts stored for the class."},
    };
    for (const auto& [data, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(message, messageOf([&] { classifier->setTrainingData(data); }));
        EXPECT_EQ(before, classifier->getTrainingData());
        EXPECT_EQ(7u, classifier->extractorVersion());
        EXPECT_EQ(0.05, classifier->smoothing());
    }

    const std::string loaded = twoClassBlob(1, 7, good, 3);
    classifier->setTrainingData(loaded);
    EXPECT_EQ((std::vector<ClassInformation>{{"a", 2, 7}, {"b", 1, 9}}),
              classifier->getInformation());
    EXPECT_EQ(3u, classifier->extractorVersion());
    EXPECT_EQ(0.125, classifier->smoothing());
    EXPECT_EQ(loaded, classifier->getTrainingData());
}

// Old blobs: zero counts are dropped, repeated tokens of a class add up, whole records only,
// lanes past the longest feature are passed over, a blob may end after the last class name.
TEST_F(ClassifierImplDataTest, LegacyBlobsLoadAsCurrentClassifiersOfTheirExtractor) {
    std::vector<std::string> lanes(34);
    lanes[1] = tokenRecord("b", 3) + tokenRecord("z", 0) + tokenRecord("c", 1) +
               tokenRecord("b", 2) + "xyz";  // three bytes short of another record
    lanes[2] = "pq";                         // shorter than one record
    lanes[3] = tokenRecord("cab", 2);
    lanes[31] = tokenRecord(std::string(31, 'L'), 6);
    lanes[32] = tokenRecord(std::string(32, 'T'), 9);
    lanes[33] = "not a record at all";
    const std::string classes = legacyClass("first", distributionBlock(lanes)) +
                                legacyClass("empty", distributionBlock({})) +
                                legacyClass("second", distributionBlock({"", tokenRecord("b", 7)}));
    for (const std::uint32_t version : {3u, 4u}) {
        SCOPED_TRACE(version);
        const std::unique_ptr<ClassifierImpl> classifier = trained(7);
        classifier->setTrainingData(legacyBlob(version, 3, classes));
        EXPECT_EQ(version, classifier->extractorVersion());
        EXPECT_EQ(0.05, classifier->smoothing());
        ASSERT_EQ(3u, classifier->featureSet().classCount());
        EXPECT_EQ((ClassRecord{"first", 0, 14, 4}), classifier->featureSet().classAt(0));
        EXPECT_EQ((ClassRecord{"empty", 1, 0, 0}), classifier->featureSet().classAt(1));
        EXPECT_EQ((ClassRecord{"second", 2, 7, 1}), classifier->featureSet().classAt(2));
        EXPECT_EQ((Features{{"b", 5}, {"c", 1}, {"cab", 2}, {std::string(31, 'L'), 6}}),
                  featuresOf(*classifier, 0));
        EXPECT_EQ((Features{{"b", 7}}), featuresOf(*classifier, 2));

        // It is written in the current format and reads back as it is.
        const std::string data = classifier->getTrainingData();
        EXPECT_EQ(header(version), data.substr(0, 16));
        ClassifierImpl reloaded = make();
        reloaded.setTrainingData(data);
        EXPECT_EQ(data, reloaded.getTrainingData());

        // Trained further, it uses the old tokenisation.
        classifier->train("empty", "alpha beta, gamma");
        classifier->compact();
        EXPECT_EQ(extracted(version, "alpha beta, gamma"), featuresOf(*classifier, 1));
    }

    ClassifierImpl classifier = make();
    classifier.setTrainingData(legacyBlob(4, 0, ""));
    EXPECT_EQ(0u, classifier.featureSet().classCount());
    const std::string block = distributionBlock({tokenRecord("", 4)});
    classifier.setTrainingData(legacyBlob(3, 2, legacyClass("a", block) + str("b")));
    EXPECT_EQ((ClassRecord{"b", 1, 0, 0}), classifier.featureSet().classAt(1));
    classifier.setTrainingData(legacyBlob(4, 1, legacyClass("a", block) + "trailing"));
    EXPECT_EQ((Features{{"", 4}}), featuresOf(classifier, 0));
    EXPECT_TRUE(_callbacks.reports().empty());
}

}  // namespace
}  // namespace norvale::classifier
