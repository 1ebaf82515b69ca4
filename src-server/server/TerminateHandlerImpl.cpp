#include "server/TerminateHandlerImpl.h"

#include <cstdlib>

namespace norvale::quillmark {

void TerminateHandlerImpl::terminated() {
    _log->error("The termination handler was called.");
    std::_Exit(-1);
}

}  // namespace norvale::quillmark
