#pragma once

// Helpers of the engine tests: a callback that records the engine's reports, the message a
// refused call throws, trained classifiers, what a reader sees of one, and classifier blobs built
// byte by byte from the stored layouts (little-endian integers and doubles, length-prefixed
// strings, the format 5 header and the blocks of the old formats 3 and 4).

#include <bit>
#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "classifier/CallbackFactory.h"
#include "classifier/ClassifierException.h"
#include "classifier/ClassifierImpl.h"

namespace norvale::classifier {

namespace blobtest {

// The `size` low bytes of value, least significant first.
inline std::string le(std::uint64_t value, int size) {
    std::string out;
    for (int i = 0; i < size; ++i) out += static_cast<char>(value >> (8 * i));
    return out;
}
inline std::string u16(std::uint16_t value) {
    return le(value, 2);
}
inline std::string u32(std::uint32_t value) {
    return le(value, 4);
}
inline std::string str(std::string_view text) {
    return u32(static_cast<std::uint32_t>(text.size())) + std::string(text);
}

// The 16 bytes in front of a format 5 feature set.
inline std::string header(std::uint32_t extractorVersion, double smoothing = 0.05,
                          std::uint32_t formatVersion = 5) {
    return u32(formatVersion) + u32(extractorVersion) +
           le(std::bit_cast<std::uint64_t>(smoothing), 8);
}

// A feature set without classes: a u16 zero and 32 empty lanes.
inline std::string emptyPayload() {
    return std::string(2 + 32 * 4, '\0');
}

// A record of a format 5 lane.
inline std::string record(std::string_view feature, std::uint16_t classIndex, std::uint32_t count) {
    return std::string(feature) + u16(classIndex) + u32(count);
}

// An old token distribution block: the lane count, then each lane's byte length and bytes (its
// records: a token's bytes, then its u32 count).
inline std::string distributionBlock(const std::vector<std::string>& lanes) {
    std::string block = u32(static_cast<std::uint32_t>(lanes.size()));
    for (const std::string& lane : lanes) block += str(lane);
    return block;
}

// An old blob: format version, class count, then the classes (each a name, str(), and a block).
inline std::string legacyBlob(std::uint32_t version, std::uint32_t classCount,
                              const std::string& classes) {
    return u32(version) + u32(classCount) + classes;
}

}  // namespace blobtest

// Keeps the description of every failed internal check that a classifier it made reports.
struct RecordingCallbacks : CallbackFactory {
    struct Recorder : Callback {
        explicit Recorder(std::vector<std::string>* to) : _to(to) {}
        void onFailure(const std::string&, const std::string& description, const std::string&,
                       int) override {
            _to->push_back(description);
        }
        std::unique_ptr<Callback> clone() const override { return std::make_unique<Recorder>(_to); }
        std::vector<std::string>* _to;
    };
    std::unique_ptr<Callback> create() const override {
        return std::make_unique<Recorder>(&_reports);
    }
    mutable std::vector<std::string> _reports;
};

// The message of the ClassifierException that `call` throws.
inline std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ClassifierException& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

using Training = std::vector<std::pair<std::string, std::string>>;  // class, text

// Classes are added as they first appear; the result is compacted.
inline std::unique_ptr<ClassifierImpl> trainedOn(const CallbackFactory* callbacks,
                                                 const Training& training, double smoothing = 0.05,
                                                 std::uint32_t extractorVersion = 5) {
    auto classifier = std::make_unique<ClassifierImpl>(callbacks, smoothing);
    classifier->setTrainingData(blobtest::header(extractorVersion, smoothing) +
                                blobtest::emptyPayload());
    for (const auto& [name, text] : training) {
        if (!classifier->classExists(name)) classifier->addClass(name);
        classifier->train(name, text);
    }
    classifier->compact();
    return classifier;
}

// What a reader sees of a classifier for a text, every number to its last bit: coverage,
// probabilities, keywords and class totals.
inline std::string readings(const Classifier& classifier, std::string_view text) {
    std::ostringstream out;
    out.precision(17);
    Classification result;
    classifier.classify(text, result);
    out << result.getTextCoverage() << ' ';
    for (const auto& [name, p] : result.getProbabilities()) out << name << '=' << p << ' ';
    KeywordQueue keywords(8, 0.0);
    classifier.classifyKeywords(text, keywords);
    for (const Keyword& k : keywords) {
        out << k.tokenView() << ':' << k.probability() << ':' << k.className() << ' ';
    }
    for (const ClassInformation& info : classifier.getInformation()) {
        out << info.name() << '/' << info.uniqueFeatures() << '/' << info.totalCount() << ' ';
    }
    return out.str();
}

}  // namespace norvale::classifier
