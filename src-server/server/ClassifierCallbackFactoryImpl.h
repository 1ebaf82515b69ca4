#pragma once

#include <memory>

#include "classifier/CallbackFactory.h"
#include "server/Log.h"

namespace norvale::quillmark {

// Gives every classifier of the server a callback that reports to the process log. The log must
// outlive the factory and every callback it made.
class ClassifierCallbackFactoryImpl : public classifier::CallbackFactory {
public:
    explicit ClassifierCallbackFactoryImpl(Log* log) : _log(log) {}

    std::unique_ptr<classifier::Callback> create() const override;

private:
    Log* _log;
};

}  // namespace norvale::quillmark
