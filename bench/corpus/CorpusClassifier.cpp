#include "corpus/CorpusClassifier.h"

#include "classifier/ClassifierFactoryImpl.h"

namespace bench::corpus {

namespace {

// A server compacts once per request; compacting every 1,000 texts keeps the pending records
// small while a whole split still trains in seconds. Compaction changes no count.
constexpr std::size_t CompactEvery = 1000;

}  // namespace

std::unique_ptr<norvale::classifier::ClassifierImpl> trainCorpusClassifier(
    const std::vector<std::string>& labels, const std::vector<LabelledText>& train) {
    auto classifier = std::make_unique<norvale::classifier::ClassifierImpl>(
        nullptr, norvale::classifier::ClassifierFactoryImpl::Smoothing);
    for (const std::string& label : labels) classifier->addClass(label);
    for (std::size_t i = 0; i < train.size(); ++i) {
        classifier->train(train[i].label, train[i].text);
        if ((i + 1) % CompactEvery == 0) classifier->compact();
    }
    classifier->compact();
    return classifier;
}

const std::string& bestClass(const norvale::classifier::Classification& result) {
    const auto& probabilities = result.getProbabilities();
    auto best = probabilities.begin();
    for (auto it = probabilities.begin(); it != probabilities.end(); ++it) {
        if (it->second > best->second) best = it;
    }
    return best->first;
}

}  // namespace bench::corpus
