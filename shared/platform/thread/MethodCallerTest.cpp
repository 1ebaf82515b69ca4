#include <gtest/gtest.h>

#include "platform/thread/MethodCaller0.h"
#include "platform/thread/MethodCaller1.h"

namespace {

using platform::thread::MethodCaller0;
using platform::thread::MethodCaller1;

struct Counter {
    void bump() { ++calls; }
    void add(int amount) { calls += amount; }
    int calls = 0;
};

TEST(MethodCallerTest, CallsOnScopeExitUnlessDisarmed) {
    Counter counter;
    {
        MethodCaller0 guard(&counter, &Counter::bump);
        MethodCaller1 adder(&counter, &Counter::add, 10);
    }
    EXPECT_EQ(11, counter.calls);
    {
        MethodCaller0 guard(&counter, &Counter::bump);
        MethodCaller1 adder(&counter, &Counter::add, 10);
        guard.disarm();
        adder.disarm();
    }
    EXPECT_EQ(11, counter.calls);
    try {
        MethodCaller1 adder(&counter, &Counter::add, 5);
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(16, counter.calls);
}

}  // namespace
