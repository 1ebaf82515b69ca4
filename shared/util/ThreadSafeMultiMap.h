#pragma once

#include <functional>
#include <map>

#include "platform/mutex/MutexImpl.h"

namespace util {

// An ordered multimap that carries its own lock. The map itself checks nothing: every caller
// holds the lock around each access, through AutoLock<ThreadSafeMultiMap<...>>, including plain
// reads such as size or a lookup. The lock is the recursive, owner-checked MutexImpl, so a
// holder may lock again and an unlock from another thread is refused.
template <class K, class V, class Compare = std::less<K>>
class ThreadSafeMultiMap : public std::multimap<K, V, Compare>, public platform::mutex::MutexImpl {
public:
    using Map = std::multimap<K, V, Compare>;

    ThreadSafeMultiMap() = default;
    explicit ThreadSafeMultiMap(const Compare& compare) : Map(compare) {}
    ThreadSafeMultiMap(const ThreadSafeMultiMap&) = delete;
    ThreadSafeMultiMap& operator=(const ThreadSafeMultiMap&) = delete;
};

}  // namespace util
