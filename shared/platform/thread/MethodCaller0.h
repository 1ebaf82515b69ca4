#pragma once

#include <type_traits>

namespace platform::thread {

// Scope guard: calls object->method() when it goes out of scope unless disarmed. Used to undo a
// half-done step on every exit path, or to make sure a closing call always happens.
template <class T>
class MethodCaller0 {
public:
    using Method = void (T::*)();

    MethodCaller0(std::type_identity_t<T>* object, Method method)
        : _object(object), _method(method) {}
    MethodCaller0(const MethodCaller0&) = delete;
    MethodCaller0& operator=(const MethodCaller0&) = delete;
    ~MethodCaller0() {
        if (_armed) (_object->*_method)();
    }

    void disarm() noexcept { _armed = false; }

private:
    T* _object;
    Method _method;
    bool _armed = true;
};

}  // namespace platform::thread
