#pragma once

#include "classifier/Callback.h"

namespace norvale::classifier {

// The callback of a classifier built without a callback factory: there is no log to report to,
// so it prints the report to standard output and ends the process through a failed assertion.
class DefaultCallback : public Callback {
public:
    [[noreturn]] void onFailure(const std::string& expression, const std::string& description,
                                const std::string& file, int line) override;
    std::unique_ptr<Callback> clone() const override;
};

}  // namespace norvale::classifier
