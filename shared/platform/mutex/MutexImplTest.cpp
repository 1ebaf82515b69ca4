#include "platform/mutex/MutexImpl.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "platform/PlatformTestSupport.h"
#include "platform/mutex/AutoLock.h"
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

// Only the owner unlocks; the refusal names the owner (0: none) and the caller.
TEST(MutexImplTest, UnlockByAnyoneButTheOwnerIsRefused) {
    MutexImpl mutex;
    const auto refusal = [&mutex] {
        try {
            mutex.unlock();
        } catch (const MutexException& e) {
            return std::string(e.what());
        }
        return std::string("(unlocked)");
    };
    const std::string message =
        "Error unlocking the mutex. The thread calling unlock() was not the thread that lock()ed "
        "the mutex.\nThe thread that locked the mutex has id: ";
    const std::string self = std::to_string(currentThreadId());
    EXPECT_EQ(message + "0\nThe thread unlocking has id: " + self, refusal());
    mutex.lock();
    std::string fromOther;
    std::uint32_t otherId = 0;
    std::thread([&] {
        otherId = currentThreadId();
        fromOther = refusal();
    }).join();
    EXPECT_EQ(message + self + "\nThe thread unlocking has id: " + std::to_string(otherId),
              fromOther);
    mutex.unlock();  // still held by this thread
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

// Destroying a locked mutex, and an AutoLock whose unlock fails, end the process.
TEST(MutexImplTest, MisuseEndsTheProcess) {
    const platform::testing::TempFolder folder;
    const std::function<void()> misuses[] = {
        [] {
            MutexImpl mutex;
            mutex.lock();
        },
        [] {
            MutexImpl mutex;
            auto* lock = new AutoLock<MutexImpl>(&mutex);
            std::thread([lock] { delete lock; }).join();
        },
    };
    for (const auto& misuse : misuses) {
        EXPECT_DEATH(
            {
                platform::testing::enterFolder(folder.path());
                misuse();
            },
            "");
    }
}

}  // namespace
