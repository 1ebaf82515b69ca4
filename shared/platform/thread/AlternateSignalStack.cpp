#include "platform/thread/AlternateSignalStack.h"

#include <signal.h>
#include <sys/mman.h>

#include <algorithm>

namespace platform::thread {

AlternateSignalStack::AlternateSignalStack() noexcept {
    const std::size_t size = std::max<std::size_t>(Size, SIGSTKSZ);
    void* memory =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = size;
    stack_t previous{};
    if (::sigaltstack(&stack, &previous) != 0) {
        ::munmap(memory, size);
        return;
    }
    _memory = memory;
    _size = size;
    _previousStack = previous.ss_sp;
    _previousSize = previous.ss_size;
    _previousFlags = previous.ss_flags & SS_DISABLE;
}

AlternateSignalStack::~AlternateSignalStack() {
    if (_memory == nullptr) return;
    stack_t previous{};
    previous.ss_sp = _previousStack;
    previous.ss_size = _previousSize;
    previous.ss_flags = _previousFlags;
    ::sigaltstack(&previous, nullptr);
    ::munmap(_memory, _size);
}

}  // namespace platform::thread
