#pragma once

// Makes new, empty classifiers. Lives for the whole process; create may be called from any
// thread. The caller owns what it returns.

#include <memory>

#include "classifier/Classifier.h"

namespace norvale::classifier {

class ClassifierFactory {
public:
    virtual ~ClassifierFactory() = default;

    virtual std::unique_ptr<Classifier> create() const = 0;
};

}  // namespace norvale::classifier
