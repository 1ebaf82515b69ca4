#include "platform/thread/CurrentThread.h"

#include <unistd.h>

#include <algorithm>

namespace platform::thread {

namespace {

// A fixed buffer rather than a std::string: a signal handler may read it at any moment.
thread_local char currentName[256] = "";

}  // namespace

std::uint32_t currentThreadId() noexcept {
    // gettid is a system call every time; every mutex asks for the id twice, so each thread asks
    // the kernel once. Nothing in this program forks without exec, so the cached id stays true.
    thread_local std::uint32_t id = 0;
    if (id == 0) id = static_cast<std::uint32_t>(::gettid());
    return id;
}

const char* currentThreadName() noexcept {
    return currentName;
}

namespace detail {

void setCurrentThreadName(std::string_view name) noexcept {
    const std::size_t length = std::min(name.size(), sizeof currentName - 1);
    std::copy_n(name.data(), length, currentName);
    currentName[length] = '\0';
}

}  // namespace detail

}  // namespace platform::thread
