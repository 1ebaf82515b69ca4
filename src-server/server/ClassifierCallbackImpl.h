#pragma once

#include <memory>
#include <string>

#include "classifier/Callback.h"
#include "server/Log.h"

namespace norvale::quillmark {

// Hands the engine's failed internal checks to the process log, which reports them and lets the
// engine carry on. The log is shared by every thread and must outlive the callback.
class ClassifierCallbackImpl : public classifier::Callback {
public:
    static constexpr const char* Prefix = "Classifier failure: ";

    explicit ClassifierCallbackImpl(Log* log) : _log(log) {}

    void onFailure(const std::string& expression, const std::string& description,
                   const std::string& file, int line) override;
    std::unique_ptr<classifier::Callback> clone() const override;

private:
    Log* _log;
};

}  // namespace norvale::quillmark
