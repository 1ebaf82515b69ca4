#include "platform/thread/InheritableThreadImpl.h"

#include <gtest/gtest.h>

#include "platform/PlatformTestSupport.h"
#include "platform/event/EventImpl.h"
#include "platform/thread/CurrentThread.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"

namespace {

using platform::thread::InheritableThreadImpl;

class Connection : public InheritableThreadImpl {
public:
    explicit Connection(const platform::thread::ThreadFactory* factory)
        : InheritableThreadImpl(factory) {
        setName("ConnnectionThread");
    }

    void run() override {
        _startedAsCurrent = isCurrent();
        _name = platform::thread::currentThreadName();
        _release.wait();
    }

    platform::event::EventImpl _release;
    bool _startedAsCurrent = false;
    std::string _name;
};

TEST(InheritableThreadImplTest, RunsItsOwnRunOnTheFactorysThread) {
    platform::thread::OsInfoImpl osInfo;
    platform::thread::ThreadFactoryImpl factory(&osInfo);
    Connection connection(&factory);
    EXPECT_EQ("ConnnectionThread", connection.name());
    connection.start();
    EXPECT_FALSE(connection.isCurrent());
    EXPECT_FALSE(connection.join(0));
    connection._release.set();
    connection.join();
    EXPECT_TRUE(connection._startedAsCurrent);
    EXPECT_EQ("ConnnectionThread", connection._name);
}

}  // namespace
