#pragma once

// Turns the runtime's terminate (an exception nobody caught, a noexcept violation) into a
// reported end of the process. At most one handler is current in the process: install makes
// this one the runtime's terminate handler and keeps the previous one, which uninstall or the
// destructor puts back. Install may be called again, from any thread (every connection thread
// installs the server's handler); only the first call changes anything. Terminate may come on
// any thread.

#include <exception>
#include <mutex>

namespace norvale::quillmark {

class TerminateHandler {
public:
    TerminateHandler() = default;
    TerminateHandler(const TerminateHandler&) = delete;
    TerminateHandler& operator=(const TerminateHandler&) = delete;
    virtual ~TerminateHandler();

    // Installing a second handler while another one is current is a broken invariant.
    void install();
    void uninstall();

protected:
    // Reports and ends the process; must not return.
    virtual void terminated() = 0;

private:
    static void onTerminate();

    std::mutex _mutex;  // guards _previous and _installed
    std::terminate_handler _previous = nullptr;
    bool _installed = false;
};

}  // namespace norvale::quillmark
