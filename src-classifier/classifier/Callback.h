#pragma once

// Receives the engine's reports of failed internal checks (a probability that is not a number,
// data left over after a load). The engine carries on after onFailure returns. Each classifier
// owns one callback; concurrent read calls on one classifier may report at the same time, so an
// implementation must tolerate calls from several threads.

#include <memory>
#include <string>

namespace norvale::classifier {

class Callback {
public:
    virtual ~Callback() = default;

    virtual void onFailure(const std::string& expression, const std::string& description,
                           const std::string& file, int line) = 0;
    // A new callback for a copy of the classifier that owns this one.
    virtual std::unique_ptr<Callback> clone() const = 0;
};

}  // namespace norvale::classifier
