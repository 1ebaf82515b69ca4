#include "platform/mutex/MutexImpl.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/PlatformTestSupport.h"
#include "platform/mutex/AutoLock.h"
#include "platform/mutex/MutexException.h"

namespace {

using platform::mutex::AutoLock;
using platform::mutex::MutexException;
using platform::mutex::MutexImpl;
using platform::testing::Background;

// The owner may lock again and releases after the last unlock; nobody else may unlock; a scope
// lock releases when an exception leaves its scope.
TEST(MutexImplTest, OnlyTheOwnersLastUnlockReleases) {
    MutexImpl mutex;
    EXPECT_THROW(mutex.unlock(), MutexException);
    mutex.lock();
    mutex.lock();
    mutex.unlock();
    std::thread([&] { EXPECT_THROW(mutex.unlock(), MutexException); }).join();
    {
        Background other([&] { AutoLock lock(&mutex); });
        EXPECT_TRUE(other.stillBlocked());
        mutex.unlock();
        EXPECT_TRUE(other.finishesWithin());
    }
    try {
        AutoLock lock(&mutex);
        throw MutexException("leaving");
    } catch (const MutexException&) {
    }
    Background other([&] { AutoLock lock(&mutex); });
    EXPECT_TRUE(other.finishesWithin());
}

}  // namespace
