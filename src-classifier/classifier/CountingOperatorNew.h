// Replaces the global operator new with one that counts allocations and can make the k-th one
// fail. Include it in exactly one source file of a test executable of its own.
// GCC sees the replaced operator delete call free() on memory from operator new and warns,
// not knowing that the replaced operator new takes it from malloc().
#pragma once
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

// Negative: allocations never fail. Otherwise the number of allocations still allowed.
long allocationsLeft = -1;
// Whether the allocations after the failing one succeed again (a passing shortage).
bool failOnlyOnce = false;
// Allocations made to fail so far.
long allocationsFailed = 0;
long allocationsMade = 0;
std::size_t largestAllocation = 0;
std::size_t bytesAllocated = 0;

struct FailAfter {
    explicit FailAfter(long allowed) { allocationsLeft = allowed; }
    ~FailAfter() { allocationsLeft = -1; }
};

// Only the allocation after `allowed` more fails; the ones after it succeed.
struct FailOnceAfter {
    explicit FailOnceAfter(long allowed) {
        allocationsLeft = allowed;
        failOnlyOnce = true;
    }
    ~FailOnceAfter() {
        allocationsLeft = -1;
        failOnlyOnce = false;
    }
};

}  // namespace

void* operator new(std::size_t size) {
    if (allocationsLeft == 0) {
        ++allocationsFailed;
        if (failOnlyOnce) allocationsLeft = -1;
        throw std::bad_alloc();
    }
    if (allocationsLeft > 0) --allocationsLeft;
    ++allocationsMade;
    largestAllocation = std::max(largestAllocation, size);
    bytesAllocated += size;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
