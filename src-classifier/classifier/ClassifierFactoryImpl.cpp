#include "classifier/ClassifierFactoryImpl.h"

#include "classifier/ClassifierImpl.h"

namespace norvale::classifier {

ClassifierFactoryImpl::ClassifierFactoryImpl(const CallbackFactory* callbackFactory)
    : _callbackFactory(callbackFactory) {}

std::unique_ptr<Classifier> ClassifierFactoryImpl::create() const {
    return std::make_unique<ClassifierImpl>(_callbackFactory, Smoothing);
}

}  // namespace norvale::classifier
