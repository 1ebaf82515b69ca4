#pragma once

#include <type_traits>

namespace platform::thread {

// Scope guard: calls object->method(argument) when it goes out of scope unless disarmed, e.g.
//   MethodCaller1 permit(&permits, &Semaphore::release, 1);   ... permit.disarm();
template <class T, class A>
class MethodCaller1 {
public:
    using Method = void (T::*)(A);

    MethodCaller1(std::type_identity_t<T>* object, Method method, std::type_identity_t<A> argument)
        : _object(object), _method(method), _argument(argument) {}
    MethodCaller1(const MethodCaller1&) = delete;
    MethodCaller1& operator=(const MethodCaller1&) = delete;
    ~MethodCaller1() {
        if (_armed) (_object->*_method)(_argument);
    }

    void disarm() noexcept { _armed = false; }

private:
    T* _object;
    Method _method;
    A _argument;
    bool _armed = true;
};

}  // namespace platform::thread
