#pragma once

#include <string>

#include "classifier/Classifier.h"

namespace norvale::quillmark {

// The write calls of one request on one classifier: they change a private copy, which commit
// stores and swaps in. Destruction without commit rolls everything back.
class ClassifierTransaction {
public:
    virtual ~ClassifierTransaction() = default;

    virtual void create() = 0;
    virtual const std::string& getName() const = 0;
    // The working copy; the first call takes the classifier's writer lock.
    virtual classifier::Classifier& getClassifier() = 0;
    virtual void remove() = 0;
    virtual void commit() = 0;
};

}  // namespace norvale::quillmark
