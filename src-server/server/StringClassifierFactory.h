#pragma once

#include <memory>

#include "server/StringClassifier.h"

namespace norvale::quillmark {

// Makes the request executor of each connection. Shared by every connection thread; create may
// be called from any thread at once.
class StringClassifierFactory {
public:
    virtual ~StringClassifierFactory() = default;
    virtual std::unique_ptr<StringClassifier> create() const = 0;
};

}  // namespace norvale::quillmark
