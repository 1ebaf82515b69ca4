#include "platform/mutex/MutexImpl.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/PlatformTestSupport.h"
#include "platform/mutex/AutoLock.h"
#include "platform/mutex/CriticalSection.h"
#include "platform/mutex/MutexException.h"
#include "platform/thread/CurrentThread.h"

namespace {

using platform::mutex::AutoLock;
using platform::mutex::MutexException;
using platform::mutex::MutexImpl;
using platform::testing::Background;
using platform::thread::currentThreadId;

TEST(MutexImplTest, OwnerLocksTwiceAndNeedsTwoUnlocks) {
    MutexImpl mutex;
    mutex.lock();
    mutex.lock();
    mutex.unlock();
    Background other([&] {
        mutex.lock();
        mutex.unlock();
    });
    EXPECT_TRUE(other.stillBlocked());
    mutex.unlock();
    EXPECT_TRUE(other.finishesWithin());
}

TEST(MutexImplTest, UnlockFromAnotherThreadNamesBothThreads) {
    MutexImpl mutex;
    mutex.lock();
    std::string message;
    std::uint32_t otherId = 0;
    std::thread([&] {
        otherId = currentThreadId();
        try {
            mutex.unlock();
        } catch (const MutexException& e) {
            message = e.what();
        }
    }).join();
    EXPECT_EQ(
        "Error unlocking the mutex. The thread calling unlock() was not the thread that lock()ed "
        "the mutex.\nThe thread that locked the mutex has id: " +
            std::to_string(currentThreadId()) +
            "\nThe thread unlocking has id: " + std::to_string(otherId),
        message);
    EXPECT_NE(currentThreadId(), otherId);
    mutex.unlock();  // still held by this thread
}

TEST(MutexImplTest, UnlockOfAFreeMutexIsRefusedWithOwnerZero) {
    MutexImpl mutex;
    try {
        mutex.unlock();
        FAIL() << "no exception";
    } catch (const MutexException& e) {
        EXPECT_NE(std::string::npos,
                  std::string(e.what()).find("The thread that locked the mutex has id: 0\n"));
    }
}

TEST(MutexImplTest, AutoLockReleasesWhenAnExceptionLeavesTheScope) {
    MutexImpl mutex;
    try {
        AutoLock lock(&mutex);
        throw MutexException("leaving");
    } catch (const MutexException&) {
    }
    Background other([&] { AutoLock lock(&mutex); });
    EXPECT_TRUE(other.finishesWithin());
}

TEST(MutexImplTest, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
    platform::mutex::CriticalSection section;
    int shared = 0;
    section.lock();
    section.lock();
    Background other([&] {
        AutoLock lock(&section);
        ++shared;
    });
    section.unlock();
    EXPECT_TRUE(other.stillBlocked());
    section.unlock();
    EXPECT_TRUE(other.finishesWithin());
    AutoLock lock(&section);
    EXPECT_EQ(1, shared);
}

class MutexDeathTest : public testing::Test {
protected:
    platform::testing::TempFolder _folder;
};

TEST_F(MutexDeathTest, DestroyingALockedMutexIsAnAssertion) {
    EXPECT_DEATH(
        {
            platform::testing::enterFolder(_folder.path());
            MutexImpl mutex;
            mutex.lock();
        },
        "");
    const std::string report = platform::testing::readFile(_folder.path() / "assertion.txt");
    EXPECT_NE(std::string::npos, report.find("Assertion failed. Message: _lockCount == 0\n"))
        << report;
}

TEST_F(MutexDeathTest, AFailingUnlockInAutoLockBecomesAnAssertion) {
    EXPECT_DEATH(
        {
            platform::testing::enterFolder(_folder.path());
            MutexImpl mutex;
            auto* lock = new AutoLock<MutexImpl>(&mutex);
            std::thread([lock] { delete lock; }).join();
        },
        "");
    const std::string report = platform::testing::readFile(_folder.path() / "assertion.txt");
    EXPECT_NE(std::string::npos,
              report.find("Assertion failed. Message: false\nDescription: Error unlocking the "
                          "mutex. The thread calling unlock() was not the thread that lock()ed"))
        << report;
}

}  // namespace
