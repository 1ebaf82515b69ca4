#pragma once

// One classifier: named classes with the counts of the features trained into them, trained and
// untrained with texts and asked for class probabilities and keywords of a text. The engine
// holds no lock: the read operations (classExists, classify, classifyKeywords, getInformation)
// may run at once on one classifier while no write runs; every other operation needs exclusive
// access. Training collects beside the sorted counts until compact merges it; every read and
// getTrainingData see the same counts and bytes before compaction as after, and compacting once
// after many train calls leaves the same as compacting after each. removeClass compacts first by
// itself.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classifier/ClassInformation.h"
#include "classifier/Classification.h"
#include "classifier/KeywordQueue.h"
#include "classifier/UndoLog.h"

namespace norvale::classifier {

class Classifier {
public:
    virtual ~Classifier() = default;

    // Exchanges the whole content with other, which must come from the same factory.
    virtual void swap(Classifier& other) = 0;
    // A deep, independent copy (the working copy of a write transaction).
    virtual std::unique_ptr<Classifier> clone() const = 0;
    virtual bool classExists(std::string_view className) const = 0;
    // Throws ClassifierException for an empty or existing name.
    virtual void addClass(std::string_view className) = 0;
    // Compacts, then throws ClassifierException for an unknown name.
    virtual void removeClass(std::string_view className) = 0;
    // Adds the text's features to the class; a failed allocation leaves every count as it was.
    virtual void train(std::string_view className, std::string_view text) = 0;
    // Takes the text's features away from the class, never below zero.
    virtual void untrain(std::string_view className, std::string_view text) = 0;
    // The same, noting in undo what takes the call back.
    virtual void train(std::string_view className, std::string_view text, UndoLog& undo) = 0;
    virtual void untrain(std::string_view className, std::string_view text, UndoLog& undo) = 0;
    // Takes back every change noted in undo, newest first, and empties it. Nothing but noted
    // train and untrain calls may have changed the classifier since the oldest of them.
    virtual void undo(UndoLog& undo) noexcept = 0;
    virtual void compact() = 0;
    // Compacts only where it costs at most a multiple of the changes: everywhere after changes
    // (the number of changes the caller just made, e.g. UndoLog::changes) of at least a small
    // share of the classifier, else where the changes since the last compaction have grown large.
    virtual void compactBacklog(std::size_t /*changes*/) { compact(); }
    // Sets the text coverage and one probability per class in out.
    virtual void classify(std::string_view text, Classification& out) const = 0;
    // Fills queue (capacity and threshold set by the caller) with the text's strongest words.
    // The keywords point into this classifier: read them before changing it.
    virtual void classifyKeywords(std::string_view text, KeywordQueue& queue) const = 0;
    // One entry per class, in class order.
    virtual std::vector<ClassInformation> getInformation() const = 0;
    // The whole classifier as a data blob in the current format (the content of a .dat file).
    virtual std::string getTrainingData() const = 0;
    // The size of getTrainingData's blob, without making it.
    virtual std::size_t trainingDataSize() const { return getTrainingData().size(); }
    // Replaces the whole content by the blob's; older formats are converted. A corrupt or
    // unsupported blob throws ClassifierException and leaves the classifier as it was.
    virtual void setTrainingData(std::string_view data) = 0;
};

}  // namespace norvale::classifier
