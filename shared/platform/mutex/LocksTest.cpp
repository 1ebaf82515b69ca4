// Who waits for whom: the event, the mutex, the reader-writer lock and the named file lock.
#include "platform/mutex/NamedMutexImpl.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/PlatformTestSupport.h"
#include "platform/event/EventImpl.h"
#include "platform/mutex/AutoLock.h"
#include "platform/mutex/MutexException.h"
#include "platform/mutex/MutexImpl.h"
#include "platform/mutex/ReaderAutoLock.h"
#include "platform/mutex/ReaderWriterLockImpl.h"
#include "platform/mutex/WriterAutoLock.h"

namespace {

using platform::mutex::AutoLock;
using platform::mutex::MutexException;
using platform::mutex::MutexImpl;
using platform::mutex::NamedMutexImpl;
using platform::mutex::ReaderAutoLock;
using platform::mutex::ReaderWriterLockImpl;
using platform::mutex::WriterAutoLock;
using platform::testing::Background;

// A manual-reset event releases every waiter and stays set until reset. (The auto-reset event
// is the token of the reader-writer lock and tested there.)
TEST(EventImplTest, ManualResetReleasesEveryWaiterUntilReset) {
    platform::event::EventImpl event;
    Background first([&] { event.wait(); });
    Background second([&] { event.wait(); });
    EXPECT_TRUE(first.stillBlocked());
    event.set();
    EXPECT_TRUE(first.finishesWithin());
    EXPECT_TRUE(second.finishesWithin());
    event.wait();
    event.reset();
    Background third([&] { event.wait(); });
    EXPECT_TRUE(third.stillBlocked());
    event.set();
}

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
