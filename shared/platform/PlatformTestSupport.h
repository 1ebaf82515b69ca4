#pragma once

// Helpers for the tests of the platform layer only (never linked into the product); their
// temporary folders are io::filesystem::test::TempFolder.

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>

#include "platform/thread/Runnable.h"

namespace platform::testing {

// A thread body that runs a function.
class Call : public thread::Runnable {
public:
    explicit Call(std::function<void()> body) : _body(std::move(body)) {}
    void run() override { _body(); }

private:
    std::function<void()> _body;
};

// For death-test statements: the assertion report is appended to "assertion.txt" in the working
// directory, so the dying child moves into the test's folder first.
inline void enterFolder(const std::filesystem::path& folder) {
    if (::chdir(folder.c_str()) != 0) std::_Exit(3);
}

// Runs a blocking step on a thread of its own so that a test can tell whether it is still
// blocked. A step that never ends fails the test by ending the process after a generous wait
// instead of hanging it.
class Background {
public:
    explicit Background(std::function<void()> step)
        : _done(std::async(std::launch::async, std::move(step))) {}
    ~Background() {
        if (!finishesWithin(std::chrono::seconds(20))) std::abort();
    }

    // Gives the step time to get through if nothing holds it back.
    bool stillBlocked() const {
        return _done.wait_for(std::chrono::milliseconds(150)) == std::future_status::timeout;
    }
    bool finishesWithin(std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        return _done.wait_for(limit) == std::future_status::ready;
    }

private:
    std::future<void> _done;
};

}  // namespace platform::testing
