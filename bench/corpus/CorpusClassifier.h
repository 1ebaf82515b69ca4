#pragma once

// The engine as the corpus tools use it in process: a new ClassifierImpl (the server's smoothing,
// 0.05) trained with a train split, and the answer of a classification. Tools that
// compare through the server use the same rules, so a difference is a fault, not a setting.

#include <memory>
#include <string>
#include <vector>

#include "classifier/Classification.h"
#include "classifier/ClassifierImpl.h"
#include "corpus/CorpusFile.h"

namespace bench::corpus {

// A new classifier with one class per label, trained with every text in order, compacted every
// 1,000 texts and at the end.
std::unique_ptr<norvale::classifier::ClassifierImpl> trainCorpusClassifier(
    const std::vector<std::string>& labels, const std::vector<LabelledText>& train);

// The class of the largest probability; the first in class-name order among equals.
const std::string& bestClass(const norvale::classifier::Classification& result);

}  // namespace bench::corpus
