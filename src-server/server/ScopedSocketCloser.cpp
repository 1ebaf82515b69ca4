#include "server/ScopedSocketCloser.h"

#include <new>
#include <string>

#include "exceptions/Exception.h"

namespace norvale::quillmark {

ScopedSocketCloser::~ScopedSocketCloser() {
    if (_closeLock == nullptr) {
        close();
        return;
    }
    std::lock_guard lock(*_closeLock);
    close();
}

void ScopedSocketCloser::close() {
    try {
        _stream->close();
    } catch (const exceptions::Exception& e) {
        try {
            _log->error(std::string("Error closing socket stream in ScopedSocketCloser. ") +
                        e.what());
        } catch (const std::bad_alloc&) {
            // The close failed and there is no memory to say so; the descriptor is gone anyway.
        }
    }
}

}  // namespace norvale::quillmark
