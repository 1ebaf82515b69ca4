#pragma once

// The engine's classifier: a feature extractor of a fixed version turns texts into features, a
// FeatureSet keeps the counts per class, and classification is a smoothed, class-size-normalised
// naive Bayes variant with a complement term and a softmax whose sharpness grows with the number
// of classes. Thread rules as for Classifier.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <mutex>

#include "classifier/CallbackFactory.h"
#include "classifier/Classifier.h"
#include "classifier/FeatureExtractor.h"
#include "classifier/ScoreTable.h"
#include "classifier/storage/FeatureSet.h"

namespace util::database {
class DatabaseReader;
}  // namespace util::database

namespace norvale::classifier {

class ClassifierImpl : public Classifier {
public:
    static constexpr std::uint32_t DataVersion = 5;
    static constexpr std::uint32_t NewExtractorVersion = 5;
    // Format version, extractor version and smoothing in front of the feature set's stored form.
    static constexpr std::size_t HeaderSize = 4 + 4 + 8;

    // A classifier without classes using extractor version 5. With a null callbackFactory,
    // failed checks go to a DefaultCallback.
    ClassifierImpl(const CallbackFactory* callbackFactory, double smoothing);
    ClassifierImpl& operator=(const ClassifierImpl&) = delete;
    ~ClassifierImpl() override;

    void swap(Classifier& other) override;
    std::unique_ptr<Classifier> clone() const override;
    bool classExists(std::string_view className) const override;
    void addClass(std::string_view className) override;
    void removeClass(std::string_view className) override;
    void train(std::string_view className, std::string_view text) override;
    void untrain(std::string_view className, std::string_view text) override;
    void train(std::string_view className, std::string_view text, UndoLog& undo) override;
    void untrain(std::string_view className, std::string_view text, UndoLog& undo) override;
    void undo(UndoLog& undo) noexcept override;
    void compact() override;
    void compactBacklog(std::size_t changes) override;
    void classify(std::string_view text, Classification& out) const override;
    void classifyKeywords(std::string_view text, KeywordQueue& queue) const override;
    std::vector<ClassInformation> getInformation() const override;
    // The format 5 blob: format version 5 (u32), extractor version (u32), smoothing (double),
    // then the feature set's stored form. Needs a compacted classifier.
    std::string getTrainingData() const override;
    std::size_t trainingDataSize() const override;
    // Accepts format 5 and converts formats 3 and 4. Data cut short throws ClassifierException
    // "The data that the Classifier is being set with seems to be corrupt. " and the reader's
    // message; so does a feature set whose records or class totals are inconsistent (out of
    // order, repeated, of an unknown class, zero counts, totals below the counts), which would
    // otherwise stop a later classification on a failed check. Bytes left after the feature set
    // are reported through the callback and the load completes. A failed load leaves the
    // classifier as it was.
    void setTrainingData(std::string_view data) override;

    std::uint32_t dataVersion() const { return _dataVersion; }
    std::uint32_t extractorVersion() const { return _extractorVersion; }
    double smoothing() const { return _smoothing; }
    const storage::FeatureSet& featureSet() const { return _featureSet; }
    // Bytes the stored logarithms of the current content may come to take; 0 before the first
    // classification after a change.
    std::size_t scoreTableBytes() const {
        const ScoreTable* table = _scoreTable.load(std::memory_order_acquire);
        return table == nullptr ? 0 : table->bytes();
    }

private:
    ClassifierImpl(const ClassifierImpl& other);

    // Throws for an empty class name (emptyName) or, when text has features, an unknown class
    // (unknownClass + name + "'."); false when text has no feature and nothing is to be done.
    bool extractForTraining(std::string_view className, std::string_view text,
                            FeatureCounts& features, const char* emptyName,
                            const char* unknownClass) const;
    // train and untrain, noting their changes in undo when it is given.
    void trainNoted(std::string_view className, std::string_view text, UndoLog* undo);
    void untrainNoted(std::string_view className, std::string_view text, UndoLog* undo);
    // The classification core shared by classify and classifyKeywords; its per-class arrays
    // come from scratch, the call's own arena.
    void classifyFeatures(const FeatureCounts& features, Classification& out, KeywordQueue& queue,
                          std::pmr::memory_resource* scratch) const;
    void checkProbability(double probability) const;
    // The stored logarithms of the current content, made by the first reader that asks; null
    // when there is no memory for them.
    ScoreTable* scoreTable() const;
    // What the stored logarithms may take: what the records and lookup index leave of the bound
    // on a loaded classifier's memory.
    std::size_t scoreTableBudget() const;
    // Every change of the content calls this first (writers have the classifier to themselves).
    void dropScoreTable();
    // Reads a format 5 blob and, when all of it was read, replaces the content with it.
    void loadCurrentFormat(util::database::DatabaseReader&& reader);
    // Reports a failed internal check of the engine through the callback.
    void reportFailure(const std::string& description, const char* file, int line) const;

    std::unique_ptr<Callback> _callback;
    std::uint32_t _dataVersion = DataVersion;
    std::uint32_t _extractorVersion = NewExtractorVersion;
    double _smoothing;
    std::unique_ptr<FeatureExtractor> _extractor;
    storage::FeatureSet _featureSet;

    // Readers publish the table through _scoreTable once it is made; _scoreTableMutex makes
    // sure only one of them makes it and guards _ownedScoreTable between readers.
    mutable std::mutex _scoreTableMutex;
    mutable std::unique_ptr<ScoreTable> _ownedScoreTable;
    mutable std::atomic<ScoreTable*> _scoreTable{nullptr};
};

}  // namespace norvale::classifier
