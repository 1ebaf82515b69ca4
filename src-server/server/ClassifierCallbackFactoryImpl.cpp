#include "server/ClassifierCallbackFactoryImpl.h"

#include "server/ClassifierCallbackImpl.h"

namespace norvale::quillmark {

std::unique_ptr<classifier::Callback> ClassifierCallbackFactoryImpl::create() const {
    return std::make_unique<ClassifierCallbackImpl>(_log);
}

}  // namespace norvale::quillmark
