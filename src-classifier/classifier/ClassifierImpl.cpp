#include "classifier/ClassifierImpl.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory_resource>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "classifier/ClassifierException.h"
#include "classifier/DefaultCallback.h"
#include "classifier/KeywordExtractor.h"
#include "classifier/LegacyDataConverter.h"
#include "util/database/DatabaseReader.h"
#include "util/database/DatabaseWriter.h"

namespace norvale::classifier {

namespace {

using storage::FeatureSet;
using storage::ParameterAccessor;

// Bytes of a classification's feature arena kept on the stack: the features of a text of about
// 2 KiB.
constexpr std::size_t ScratchBytes = 8192;

// A loaded classifier's records, lookup index and stored logarithms together stay within twice
// its stored size and this much (of the 50 MB a classifier may take beyond twice its file).
constexpr std::size_t MemoryAboveTwiceStored = 48u << 20;

// Constants of the classification rule; the smoothing term is the classifier's own field.
constexpr double ScoreExponent = 0.05;
constexpr double ComplementOffset = 0.6;
constexpr double SoftmaxFactorPerClass = 1.4;

const char* const FailureExpression = "ClassifierImpl failure";
const char* const InvalidProbability = "One of the normalized probabilities are not valid.";

// The per-class arrays of one classification, allocated once per call from its scratch memory.
class ClassScores {
public:
    ClassScores(const FeatureSet& set, double smoothing, std::pmr::memory_resource* scratch);

    // Adds a feature that k > 0 classes have, occurring m times in the text; afterwards
    // shares() holds its e_j and shareSum() their sum. With logs given, ln(e_j) goes there too.
    void addFeature(const ParameterAccessor& parameters, std::uint32_t m, double* logs = nullptr);
    // Adds a feature whose ln(e_j) addFeature stored before in logs.
    void addLogs(const double* logs, std::uint32_t m);
    const std::pmr::vector<double>& shares() const { return _e; }
    double shareSum() const { return _shareSum; }
    // Normalised probability of every class (g_j / Z, or 1 / n when Z is 0), in class order.
    const std::pmr::vector<double>& probabilities();

private:
    double weightOf(std::uint16_t k) const;
    void addOccurrences(std::uint32_t m);

    std::size_t _n;
    double _smoothing;
    double _zeroCountNumerator;  // the exponent term of a class that lacks the feature
    std::pmr::vector<double> _a, _b, _c, _d, _e, _s, _g;
    double _shareSum = 0.0;
    double _qsum = 0.0;
};

ClassScores::ClassScores(const FeatureSet& set, double smoothing,
                         std::pmr::memory_resource* scratch)
    : _n(set.classCount()),
      _smoothing(smoothing),
      _zeroCountNumerator(std::pow(smoothing, ScoreExponent)),
      _a(_n, scratch),
      _b(_n, scratch),
      _c(_n, scratch),
      _d(_n, scratch),
      _e(_n, scratch),
      _s(_n, 0.0, scratch),
      _g(_n, scratch) {
    double sum = 0.0;
    double largest = 0.0;
    for (std::size_t j = 0; j < _n; ++j) {
        _a[j] = static_cast<double>(set.classAt(j)._count) + 1.0;
        sum += _a[j];
        largest = std::max(largest, _a[j]);
    }
    double largestComplement = 0.0;
    for (std::size_t j = 0; j < _n; ++j) {
        _b[j] = largest / _a[j];
        _c[j] = sum - _a[j] + 1.0;
        largestComplement = std::max(largestComplement, _c[j]);
    }
    for (std::size_t j = 0; j < _n; ++j) _d[j] = largestComplement / _c[j];
}

double ClassScores::weightOf(std::uint16_t k) const {
    if (_n <= 2) return 1.0;
    return std::log(static_cast<double>(_n) / static_cast<double>(k)) + 1.0;
}

void ClassScores::addFeature(const ParameterAccessor& parameters, std::uint32_t m, double* logs) {
    const double w = weightOf(parameters.classCount());
    const double total = static_cast<double>(parameters.total());
    _shareSum = 0.0;
    for (std::size_t j = 0; j < _n; ++j) {
        const double c = static_cast<double>(parameters.parameter(j));
        if (_n == 2) {
            _e[j] = _b[j] * c + _smoothing;
        } else {
            // With c = 0 the base is exactly the smoothing term, so its power is computed once.
            const double numerator = parameters.parameter(j) == 0
                                         ? _zeroCountNumerator
                                         : std::pow(_b[j] * w * c + _smoothing, ScoreExponent);
            _e[j] = numerator / (_d[j] * w * (total - c) + ComplementOffset);
        }
        _shareSum += _e[j];
        const double log = std::log(_e[j]);
        if (logs != nullptr) logs[j] = log;
        _s[j] += log * m;
    }
    addOccurrences(m);
}

void ClassScores::addLogs(const double* logs, std::uint32_t m) {
    for (std::size_t j = 0; j < _n; ++j) _s[j] += logs[j] * m;
    addOccurrences(m);
}

void ClassScores::addOccurrences(std::uint32_t m) {
    const double occurrences = static_cast<double>(m);
    _qsum += static_cast<double>(_n) * occurrences * occurrences;
}

const std::pmr::vector<double>& ClassScores::probabilities() {
    const double r = _qsum > 0.0 ? 1.0 / std::sqrt(_qsum) : 1.0;
    double smax = std::numeric_limits<double>::lowest();
    for (std::size_t j = 0; j < _n; ++j) {
        _s[j] *= r;
        if (_s[j] > smax) smax = _s[j];
    }
    double z = 0.0;
    for (std::size_t j = 0; j < _n; ++j) {
        _g[j] = std::exp((_s[j] - smax) * SoftmaxFactorPerClass * static_cast<double>(_n));
        z += _g[j];
    }
    for (std::size_t j = 0; j < _n; ++j) {
        _g[j] = z == 0.0 ? 1.0 / static_cast<double>(_n) : _g[j] / z;
    }
    return _g;
}

// Features looked up together: their memory reads overlap instead of following each other.
constexpr std::size_t ProbeBatch = 32;

struct ProbedFeature {
    std::string_view feature;
    std::uint32_t m = 0;
    const storage::LaneBase* lane = nullptr;
    storage::LaneBase::Probe probe;
};

// Adds the feature's stored logarithms, or computes them and stores them for the next
// classification; false when no class has the feature. A feature trained since the lane's last
// compaction has no ordinal yet: its logarithms are computed every time.
bool scoreFromTable(ScoreTable& table, const ProbedFeature& probed, ParameterAccessor& parameters,
                    ClassScores& scores) {
    const std::size_t laneIndex = probed.feature.size();
    const std::uint32_t ordinal = probed.lane->findFeature(probed.feature, probed.probe);
    if (ordinal == storage::LaneBase::NoFeature) {
        if (!probed.lane->hasPending()) return false;
        probed.lane->getPendingParameters(probed.feature, parameters);
        if (parameters.classCount() == 0) return false;
        scores.addFeature(parameters, probed.m);
        return true;
    }
    if (const double* logs = table.find(laneIndex, ordinal)) {
        scores.addLogs(logs, probed.m);
        return true;
    }
    probed.lane->getParameters(probed.feature, parameters);
    if (parameters.classCount() == 0) return false;
    double* const logs = table.claim(laneIndex, ordinal);
    scores.addFeature(parameters, probed.m, logs);
    if (logs != nullptr) table.publish(laneIndex, ordinal);
    return true;
}

// Scores every feature through the table, in the map's order; returns how many the classifier
// has.
std::size_t scoreThroughTable(const FeatureSet& set, ScoreTable& table,
                              const FeatureCounts& features, ParameterAccessor& parameters,
                              ClassScores& scores) {
    std::size_t matched = 0;
    std::array<ProbedFeature, ProbeBatch> batch;
    auto next = features.begin();
    while (next != features.end()) {
        std::size_t size = 0;
        for (; size < batch.size() && next != features.end(); ++size, ++next) {
            ProbedFeature& probed = batch[size];
            probed.feature = next->first;
            probed.m = next->second;
            probed.lane = &set.lane(probed.feature.size());
            probed.lane->startProbe(probed.feature, probed.probe);
        }
        for (std::size_t i = 0; i < size; ++i) {
            batch[i].lane->advanceProbe(batch[i].probe);
            table.prefetch(batch[i].feature.size(), batch[i].probe._candidate);
        }
        for (std::size_t i = 0; i < size; ++i) batch[i].lane->advanceProbe(batch[i].probe);
        for (std::size_t i = 0; i < size; ++i) {
            if (scoreFromTable(table, batch[i], parameters, scores)) ++matched;
        }
    }
    return matched;
}

// Asks, in the steps of a probe, for the memory that the lookups of up to ProbeBatch features from
// next on read, so that their reads overlap instead of following one another; returns where the
// batch ends. Training then finds what it looks up in the cache.
FeatureCounts::const_iterator warmLookups(const FeatureSet& set, FeatureCounts::const_iterator next,
                                          FeatureCounts::const_iterator end) {
    std::array<ProbedFeature, ProbeBatch> batch;
    std::size_t size = 0;
    for (; size < batch.size() && next != end; ++size, ++next) {
        batch[size].lane = &set.lane(next->first.size());
        batch[size].lane->startProbe(next->first, batch[size].probe);
    }
    for (std::size_t i = 0; i < size; ++i) batch[i].lane->advanceProbe(batch[i].probe);
    for (std::size_t i = 0; i < size; ++i) batch[i].lane->advanceProbe(batch[i].probe);
    return next;
}

// Offers the word to the queue for the class with the largest share above the threshold; the
// first class wins among equal shares.
void offerKeyword(const FeatureSet& set, const ClassScores& scores,
                  const ParameterAccessor& parameters, std::size_t length, std::uint32_t m,
                  KeywordQueue& queue) {
    double best = queue.threshold();
    std::size_t bestClass = set.classCount();
    const std::pmr::vector<double>& shares = scores.shares();
    for (std::size_t j = 0; j < shares.size(); ++j) {
        const double share = shares[j] / scores.shareSum();
        if (share > best) {
            best = share;
            bestClass = j;
        }
    }
    if (bestClass == set.classCount()) return;
    queue.offer(Keyword(parameters.featurePtr(), static_cast<std::uint32_t>(length), best, m,
                        set.classAt(bestClass)._name.c_str()));
}

// Refuses a loaded feature set that the engine's checks would stop on later: class records out
// of place, lane records out of order or repeated, of an unknown class or with a zero count, and
// class totals below what the lanes hold (untraining would take more than the total).
void checkLoadedFeatureSet(const FeatureSet& set) {
    const auto refuse = [](const char* what) {
        throw util::database::DatabaseReaderException(
            std::string("The stored feature set is inconsistent: ") + what);
    };
    const std::size_t n = set.classCount();
    for (std::size_t j = 0; j < n; ++j) {
        if (set.classAt(j)._classIndex != j) refuse("a class record is out of place.");
    }
    std::vector<std::uint64_t> counts(n, 0);
    std::vector<std::uint64_t> uniques(n, 0);
    for (std::size_t k = 0; k < set.laneCount(); ++k) {
        const storage::LaneBase& lane = set.lane(k);
        bool first = true;
        std::string_view previousFeature;
        std::uint16_t previousClass = 0;
        for (auto record = lane.begin(); record != lane.end(); ++record) {
            const std::uint16_t classIndex = record.classIndex();
            if (classIndex >= n) refuse("a record names a class that does not exist.");
            if (record.count() == 0) refuse("a record has a count of zero.");
            const int order = record.feature().compare(previousFeature);
            if (!first && (order < 0 || (order == 0 && classIndex <= previousClass))) {
                refuse("records are out of order or repeated.");
            }
            counts[classIndex] += record.count();
            ++uniques[classIndex];
            first = false;
            previousFeature = record.feature();
            previousClass = classIndex;
        }
    }
    for (std::size_t j = 0; j < n; ++j) {
        if (set.classAt(j)._count < counts[j] || set.classAt(j)._unique < uniques[j]) {
            refuse("a class total is below the counts stored for the class.");
        }
    }
}

std::unique_ptr<Callback> makeCallback(const CallbackFactory* factory) {
    if (factory == nullptr) return std::make_unique<DefaultCallback>();
    return factory->create();
}

}  // namespace

ClassifierImpl::ClassifierImpl(const CallbackFactory* callbackFactory, double smoothing)
    : _callback(makeCallback(callbackFactory)),
      _smoothing(smoothing),
      _extractor(createFeatureExtractor(_extractorVersion)) {}

ClassifierImpl::ClassifierImpl(const ClassifierImpl& other)
    : _callback(other._callback->clone()),
      _dataVersion(other._dataVersion),
      _extractorVersion(other._extractorVersion),
      _smoothing(other._smoothing),
      _extractor(createFeatureExtractor(other._extractorVersion)),
      _featureSet(other._featureSet) {}

ClassifierImpl::~ClassifierImpl() = default;

void ClassifierImpl::swap(Classifier& other) {
    auto& impl = dynamic_cast<ClassifierImpl&>(other);
    dropScoreTable();
    impl.dropScoreTable();
    std::swap(_callback, impl._callback);
    std::swap(_dataVersion, impl._dataVersion);
    std::swap(_extractorVersion, impl._extractorVersion);
    std::swap(_smoothing, impl._smoothing);
    std::swap(_extractor, impl._extractor);
    _featureSet.swap(impl._featureSet);
}

std::unique_ptr<Classifier> ClassifierImpl::clone() const {
    return std::unique_ptr<Classifier>(new ClassifierImpl(*this));
}

bool ClassifierImpl::classExists(std::string_view className) const {
    return _featureSet.classExists(className);
}

void ClassifierImpl::addClass(std::string_view className) {
    if (_featureSet.classCount() >= storage::FeatureSet::MaxClasses) {
        throw ClassifierException(
            "Trying to add the class '" + std::string(className) + "' to a classifier that has " +
            std::to_string(storage::FeatureSet::MaxClasses) + " classes, the most it can hold.");
    }
    dropScoreTable();
    _featureSet.addClass(className);
}

void ClassifierImpl::removeClass(std::string_view className) {
    // Removing a class renumbers the lanes' records, which needs them merged; training since the
    // last compaction is merged here rather than after every train call. Compacting drops the
    // score table too.
    compact();
    _featureSet.removeClass(className);
}

bool ClassifierImpl::extractForTraining(std::string_view className, std::string_view text,
                                        FeatureCounts& features, const char* emptyName,
                                        const char* unknownClass) const {
    if (className.empty()) throw ClassifierException(emptyName);
    _extractor->extract(text, features);
    if (features.empty()) return false;
    if (!classExists(className)) {
        throw ClassifierException(std::string(unknownClass).append(className).append("'."));
    }
    return true;
}

namespace {

// Room in undo for one change per feature.
void reserveChanges(const FeatureCounts& features, UndoLog* undo) {
    if (undo == nullptr) return;
    std::size_t bytes = 0;
    for (const auto& entry : features) bytes += entry.first.size();
    undo->reserve(features.size(), bytes);
}

}  // namespace

void ClassifierImpl::train(std::string_view className, std::string_view text) {
    trainNoted(className, text, nullptr);
}

void ClassifierImpl::train(std::string_view className, std::string_view text, UndoLog& undo) {
    trainNoted(className, text, &undo);
}

void ClassifierImpl::untrain(std::string_view className, std::string_view text) {
    untrainNoted(className, text, nullptr);
}

void ClassifierImpl::untrain(std::string_view className, std::string_view text, UndoLog& undo) {
    untrainNoted(className, text, &undo);
}

void ClassifierImpl::trainNoted(std::string_view className, std::string_view text, UndoLog* undo) {
    FeatureCounts features;
    if (!extractForTraining(
            className, text, features,
            "When training the classifier the class name must at least have one character.",
            "Trying to train on a class that doesn't exist. Class name '")) {
        return;
    }
    const std::uint16_t classIndex = _featureSet.getClass(className)._classIndex;
    reserveChanges(features, undo);
    dropScoreTable();
    auto next = features.begin();
    try {
        while (next != features.end()) {
            const auto batchEnd = warmLookups(_featureSet, next, features.end());
            for (; next != batchEnd; ++next) {
                _featureSet.addAt(classIndex, next->first, next->second);
            }
        }
    } catch (const std::bad_alloc&) {
        // Subtracting allocates nothing, so the counts are restored before the failure goes on.
        for (auto added = features.begin(); added != next; ++added) {
            _featureSet.subAt(classIndex, added->first, added->second);
        }
        throw;
    }
    if (undo == nullptr) return;
    for (const auto& [feature, m] : features) undo->note(feature, classIndex, m, true);
}

void ClassifierImpl::untrainNoted(std::string_view className, std::string_view text,
                                  UndoLog* undo) {
    FeatureCounts features;
    if (!extractForTraining(
            className, text, features,
            "When untraining the classifier the class name must at least have one character.",
            "Trying to untrain on a class that doesn't exist. Class name '")) {
        return;
    }
    const std::uint16_t classIndex = _featureSet.getClass(className)._classIndex;
    reserveChanges(features, undo);
    dropScoreTable();
    for (auto next = features.begin(); next != features.end();) {
        const auto batchEnd = warmLookups(_featureSet, next, features.end());
        for (; next != batchEnd; ++next) {
            const std::uint32_t removed = _featureSet.subAt(classIndex, next->first, next->second);
            if (undo != nullptr && removed != 0)
                undo->note(next->first, classIndex, removed, false);
        }
    }
}

void ClassifierImpl::undo(UndoLog& undo) noexcept {
    dropScoreTable();
    const auto& changes = undo.changes();
    for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
        // An untrained pair keeps its place until compaction, so adding it back allocates nothing.
        if (change->trained) {
            _featureSet.subAt(change->classIndex, undo.feature(*change), change->amount);
        } else {
            _featureSet.addAt(change->classIndex, undo.feature(*change), change->amount);
        }
    }
    undo.clear();
}

void ClassifierImpl::compact() {
    dropScoreTable();
    _featureSet.compact();
}

void ClassifierImpl::compactBacklog(std::size_t changes) {
    // The stored logarithms are numbered by the sorted records, which compaction moves.
    dropScoreTable();
    _featureSet.compactBacklog(changes);
}

void ClassifierImpl::classify(std::string_view text, Classification& out) const {
    // The features of one text live in an arena on this call's stack (and, past its size, in
    // heap blocks released together at return) instead of one heap node per feature.
    alignas(std::max_align_t) std::byte scratch[ScratchBytes];
    std::pmr::monotonic_buffer_resource arena(scratch, sizeof(scratch));
    FeatureCounts features(&arena);
    _extractor->extract(text, features);
    KeywordQueue noKeywords(0, 0.0);
    classifyFeatures(features, out, noKeywords, &arena);
}

void ClassifierImpl::classifyKeywords(std::string_view text, KeywordQueue& queue) const {
    const KeywordExtractor words(_extractor->maxTokenSize(), _extractorVersion > 3);
    alignas(std::max_align_t) std::byte scratch[ScratchBytes];
    std::pmr::monotonic_buffer_resource arena(scratch, sizeof(scratch));
    FeatureCounts features(&arena);
    words.extract(text, features);
    Classification discarded;
    classifyFeatures(features, discarded, queue, &arena);
}

void ClassifierImpl::classifyFeatures(const FeatureCounts& features, Classification& out,
                                      KeywordQueue& queue,
                                      std::pmr::memory_resource* scratch) const {
    const std::size_t n = _featureSet.classCount();
    if (n == 0) {
        throw ClassifierException("Trying to classify a text before any classes have been added!");
    }
    ClassScores scores(_featureSet, _smoothing, scratch);
    ParameterAccessor parameters(n);
    std::size_t matched = 0;
    // Keywords need every e_j, so only a plain classification uses the stored logarithms.
    ScoreTable* const table = queue.maxKeywords() > 0 ? nullptr : scoreTable();
    if (table != nullptr) {
        matched = scoreThroughTable(_featureSet, *table, features, parameters, scores);
    } else {
        for (const auto& [feature, m] : features) {
            _featureSet.lane(feature.size()).getParameters(feature, parameters);
            if (parameters.classCount() == 0) continue;
            ++matched;
            scores.addFeature(parameters, m);
            if (queue.maxKeywords() > 0) {
                offerKeyword(_featureSet, scores, parameters, feature.size(), m, queue);
            }
        }
    }
    out.setTextCoverage(features.empty()
                            ? 0.0
                            : static_cast<double>(matched) / static_cast<double>(features.size()));
    const std::pmr::vector<double>& probabilities = scores.probabilities();
    for (std::size_t j = 0; j < n; ++j) {
        checkProbability(probabilities[j]);
        out.setProbability(_featureSet.classAt(j)._name, probabilities[j]);
    }
}

ScoreTable* ClassifierImpl::scoreTable() const {
    if (ScoreTable* const table = _scoreTable.load(std::memory_order_acquire)) return table;
    const std::lock_guard lock(_scoreTableMutex);
    if (!_ownedScoreTable) {
        try {
            _ownedScoreTable = std::make_unique<ScoreTable>(_featureSet, scoreTableBudget());
        } catch (const std::bad_alloc&) {
            return nullptr;  // classifies without stored logarithms; nothing else changes
        }
        _scoreTable.store(_ownedScoreTable.get(), std::memory_order_release);
    }
    return _ownedScoreTable.get();
}

std::size_t ClassifierImpl::scoreTableBudget() const {
    std::size_t lookups = 0;
    for (std::size_t k = 0; k < _featureSet.laneCount(); ++k) {
        lookups += _featureSet.lane(k).lookupBytes();
    }
    const std::size_t stored = _featureSet.serializedSize();
    const std::size_t used = stored + lookups;
    const std::size_t bound = 2 * stored + MemoryAboveTwiceStored;
    return used < bound ? bound - used : 0;
}

void ClassifierImpl::dropScoreTable() {
    _scoreTable.store(nullptr, std::memory_order_relaxed);
    _ownedScoreTable.reset();
}

void ClassifierImpl::checkProbability(double probability) const {
    if (!std::isfinite(probability)) {
        reportFailure(std::string("A probability is not fininte. ") + InvalidProbability, __FILE__,
                      __LINE__);
    }
    if (std::isnan(probability)) {
        reportFailure(std::string("A probability is not a number. ") + InvalidProbability, __FILE__,
                      __LINE__);
    }
    if (!(probability >= 0.0 && probability <= 1.0)) {
        reportFailure(
            std::string("A probability is not between 0 and 1 inclusive. ") + InvalidProbability,
            __FILE__, __LINE__);
    }
}

void ClassifierImpl::reportFailure(const std::string& description, const char* file,
                                   int line) const {
    _callback->onFailure(FailureExpression, description, file, line);
}

std::vector<ClassInformation> ClassifierImpl::getInformation() const {
    std::vector<ClassInformation> information;
    information.reserve(_featureSet.classCount());
    for (const storage::ClassRecord& record : _featureSet.classes()) {
        information.emplace_back(record._name, record._unique, record._count);
    }
    return information;
}

std::string ClassifierImpl::getTrainingData() const {
    std::string out;
    util::database::DatabaseWriter writer(&out);
    writer.reserve(trainingDataSize());
    writer.putPrimitive(DataVersion);
    writer.putPrimitive(_extractorVersion);
    writer.putPrimitive(_smoothing);
    _featureSet.serialize(writer);
    return out;
}

std::size_t ClassifierImpl::trainingDataSize() const {
    return HeaderSize + _featureSet.serializedSize();
}

void ClassifierImpl::setTrainingData(std::string_view data) {
    if (data.empty())
        throw ClassifierException("Trying to load classifier with empty training data.");
    try {
        std::uint32_t version = 0;
        util::database::DatabaseReader(data.substr(0, sizeof(version))).getNextPrimitive(version);
        if (version == 3 || version == 4) {
            std::string converted;
            util::database::DatabaseWriter writer(&converted);
            LegacyDataConverter().convert(data, writer);
            loadCurrentFormat(util::database::DatabaseReader(std::move(converted)));
        } else if (version == DataVersion) {
            loadCurrentFormat(util::database::DatabaseReader(data));
        } else {
            throw ClassifierException(
                "Trying to set the training data with a version that is not valid (" +
                std::to_string(version) + "). Aborting.");
        }
    } catch (const util::database::DatabaseReaderException& error) {
        throw ClassifierException(
            std::string("The data that the Classifier is being set with seems to be corrupt. ") +
            error.what());
    }
}

void ClassifierImpl::loadCurrentFormat(util::database::DatabaseReader&& reader) {
    std::uint32_t version = 0;
    reader.getNextPrimitive(version);
    if (version != DataVersion) throw ClassifierException("Expected version 5 data to deserialize");
    std::uint32_t extractorVersion = 0;
    double smoothing = 0.0;
    reader.getNextPrimitive(extractorVersion);
    reader.getNextPrimitive(smoothing);
    std::unique_ptr<FeatureExtractor> extractor = createFeatureExtractor(extractorVersion);
    storage::FeatureSet featureSet;
    featureSet.deserialize(reader);
    checkLoadedFeatureSet(featureSet);
    if (!reader.atEnd()) {
        reportFailure("There should exist no more training data at this point.", __FILE__,
                      __LINE__);
    }

    // Everything that can fail is done: the classifier takes the loaded content as a whole.
    dropScoreTable();
    _dataVersion = DataVersion;
    _extractorVersion = extractorVersion;
    _smoothing = smoothing;
    _extractor.swap(extractor);
    _featureSet.swap(featureSet);
}

}  // namespace norvale::classifier
