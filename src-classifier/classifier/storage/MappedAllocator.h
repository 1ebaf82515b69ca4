#pragma once

// The allocator of a lane's vectors. A block of at least MappedBytes gets pages of its own
// (mmap, given back by munmap); smaller blocks come from the heap. A lane keeps its vectors for
// as long as it lives and grows them in place, so in the heap a large one would stay in the arena
// of whichever thread first allocated it, and the free memory that arena keeps around it would
// stay resident. Mapped, a block is resident only where it has been written, and freeing it gives
// it back at once.

#include <sys/mman.h>

#include <cstddef>
#include <limits>
#include <new>

namespace norvale::classifier::storage {

template <typename T>
class MappedAllocator {
public:
    using value_type = T;

    static constexpr std::size_t MappedBytes = 128 * 1024;

    MappedAllocator() = default;
    template <typename U>
    MappedAllocator(const MappedAllocator<U>& /*other*/) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        const std::size_t bytes = count * sizeof(T);
        if (bytes < MappedBytes) return static_cast<T*>(::operator new(bytes));
        void* const block =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) throw std::bad_alloc();
        return static_cast<T*>(block);
    }

    void deallocate(T* block, std::size_t count) noexcept {
        const std::size_t bytes = count * sizeof(T);
        if (bytes < MappedBytes) {
            ::operator delete(block);
        } else {
            ::munmap(block, bytes);
        }
    }

    friend bool operator==(const MappedAllocator& /*left*/, const MappedAllocator& /*right*/) {
        return true;
    }
};

}  // namespace norvale::classifier::storage
