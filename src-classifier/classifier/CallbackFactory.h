#pragma once

// Makes the callback of each new classifier. Lives as long as the classifier factory that uses
// it; create may be called from any thread.

#include <memory>

#include "classifier/Callback.h"

namespace norvale::classifier {

class CallbackFactory {
public:
    virtual ~CallbackFactory() = default;

    virtual std::unique_ptr<Callback> create() const = 0;
};

}  // namespace norvale::classifier
