#pragma once

#include "classifier/CallbackFactory.h"
#include "classifier/ClassifierFactory.h"

namespace norvale::classifier {

// Makes ClassifierImpl objects with the server's smoothing (0.05), each with a callback from
// callbackFactory (null: the engine's DefaultCallback). callbackFactory must outlive this
// factory.
class ClassifierFactoryImpl : public ClassifierFactory {
public:
    static constexpr double Smoothing = 0.05;

    explicit ClassifierFactoryImpl(const CallbackFactory* callbackFactory);

    std::unique_ptr<Classifier> create() const override;

private:
    const CallbackFactory* _callbackFactory;
};

}  // namespace norvale::classifier
