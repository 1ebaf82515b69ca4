#pragma once

#include "server/Log.h"
#include "server/TerminateHandler.h"

namespace norvale::quillmark {

// Logs "The termination handler was called." at level Error and ends the process with exit
// code -1 (255 as the parent sees it), without running static destructors that other threads
// may still be using.
class TerminateHandlerImpl : public TerminateHandler {
public:
    explicit TerminateHandlerImpl(Log* log) : _log(log) {}

protected:
    void terminated() override;

private:
    Log* _log;
};

}  // namespace norvale::quillmark
