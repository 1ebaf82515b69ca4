#include "server/ClassifierCallbackImpl.h"

namespace norvale::quillmark {

void ClassifierCallbackImpl::onFailure(const std::string& expression,
                                       const std::string& description, const std::string& file,
                                       int line) {
    _log->assertionFailed(expression, Prefix + description, file, line);
}

std::unique_ptr<classifier::Callback> ClassifierCallbackImpl::clone() const {
    return std::make_unique<ClassifierCallbackImpl>(_log);
}

}  // namespace norvale::quillmark
