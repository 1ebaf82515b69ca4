#include "platform/mutex/NamedMutexImpl.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>
#include <string>

#include "platform/PlatformTestSupport.h"
#include "platform/mutex/AutoLock.h"
#include "platform/mutex/MutexException.h"

namespace {

using platform::mutex::AutoLock;
using platform::mutex::MutexException;
using platform::mutex::NamedMutexImpl;
using platform::testing::Background;

constexpr const char* Name = ".:classifiers::spam.dat";

class NamedMutexImplTest : public testing::Test {
protected:
    // Whether somebody else holds the flock right now, asked through a description of our own.
    bool heldElsewhere() const {
        const int descriptor =
            ::open((_folder.path() / Name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (descriptor < 0) ADD_FAILURE() << "cannot open the lock file";
        const bool held = ::flock(descriptor, LOCK_EX | LOCK_NB) == -1 && errno == EWOULDBLOCK;
        ::close(descriptor);
        return held;
    }

    platform::testing::TempFolder _folder;
};

// Every process must pick the same stripe for a classifier, so the names are fixed values.
TEST_F(NamedMutexImplTest, WaitsForAnotherProcessAndIsFreedWhenThatProcessIsKilled) {
    EXPECT_EQ("classifier-39", platform::mutex::classifierLockName("./classifiers/spam.dat"));
    int ready[2];
    ASSERT_EQ(0, ::pipe(ready));
    const pid_t child = ::fork();
    if (child == 0) {
        NamedMutexImpl mutex(_folder.path().string(), Name);
        mutex.lock();
        const char byte = 'L';
        if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
        for (;;) ::pause();
    }
    char byte = 0;
    ASSERT_EQ(1, ::read(ready[0], &byte, 1));
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_TRUE(heldElsewhere());
    EXPECT_TRUE(std::filesystem::exists(_folder.path() / Name));

    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(heldElsewhere());
    NamedMutexImpl mutex(_folder.path().string(), Name);
    AutoLock lock(&mutex);
}

// Threads exclude each other whether they share one object or hold their own.
TEST_F(NamedMutexImplTest, ExcludesOtherThreads) {
    NamedMutexImpl first(_folder.path().string(), Name);
    NamedMutexImpl second(_folder.path().string(), Name);
    for (NamedMutexImpl* other : {&first, &second}) {
        std::atomic<bool> released{false};
        first.lock();
        Background waiter([&] {
            AutoLock lock(other);
            EXPECT_TRUE(released.load());
        });
        EXPECT_TRUE(waiter.stillBlocked());
        released.store(true);
        first.unlock();
        EXPECT_TRUE(waiter.finishesWithin());
    }
    EXPECT_FALSE(heldElsewhere());
}

// The holder may lock again and releases after the last unlock; nobody else may unlock.
TEST_F(NamedMutexImplTest, OnlyTheLastUnlockOfTheHolderReleases) {
    NamedMutexImpl mutex(_folder.path().string(), Name);
    mutex.lock();
    mutex.lock();
    mutex.unlock();
    EXPECT_TRUE(heldElsewhere());
    std::thread([&] { EXPECT_THROW(mutex.unlock(), MutexException); }).join();
    EXPECT_TRUE(heldElsewhere());
    mutex.unlock();
    EXPECT_FALSE(heldElsewhere());
}

// A lock file that cannot be opened fails the lock, and nothing is held afterwards.
TEST_F(NamedMutexImplTest, AFolderThatCannotExistFailsTheLock) {
    const auto file = _folder.path() / "plain-file";
    std::ofstream(file) << "x";
    NamedMutexImpl mutex(file.string(), Name);
    EXPECT_THROW(mutex.lock(), MutexException);
    EXPECT_THROW(mutex.unlock(), MutexException);
}

}  // namespace
