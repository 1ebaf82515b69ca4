#include "platform/mutex/ReaderWriterLockImpl.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "platform/PlatformTestSupport.h"
#include "platform/mutex/ReaderAutoLock.h"
#include "platform/mutex/WriterAutoLock.h"

namespace {

using platform::mutex::ReaderAutoLock;
using platform::mutex::ReaderWriterLockImpl;
using platform::mutex::WriterAutoLock;
using platform::testing::Background;

// Readers share the lock; a writer waits for the last reader and excludes readers and writers.
TEST(ReaderWriterLockImplTest, WritersWaitForEveryoneAndEveryoneWaitsForAWriter) {
    ReaderWriterLockImpl lock;
    lock.reader()->lock();
    lock.reader()->lock();
    {
        Background reader([&] { ReaderAutoLock held(&lock); });
        EXPECT_TRUE(reader.finishesWithin());
    }
    {
        Background writer([&] { WriterAutoLock held(&lock); });
        EXPECT_TRUE(writer.stillBlocked());
        lock.reader()->unlock();
        EXPECT_TRUE(writer.stillBlocked());
        lock.reader()->unlock();
        EXPECT_TRUE(writer.finishesWithin());
    }
    const std::function<void()> others[] = {[&] { ReaderAutoLock held(&lock); },
                                            [&] { WriterAutoLock held(&lock); }};
    for (const auto& other : others) {
        lock.writer()->lock();
        Background waiter(other);
        EXPECT_TRUE(waiter.stillBlocked());
        lock.writer()->unlock();
        EXPECT_TRUE(waiter.finishesWithin());
    }
}

}  // namespace
