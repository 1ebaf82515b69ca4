// Who waits for whom: the mutex, the reader-writer lock and the named file lock. (The stop event
// is waited for wherever the server stops: QuillmarkServerTest, ServerServiceTest.)
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

// The holder may lock again and releases after its last unlock; nobody else may unlock; other
// threads wait, whether they share the object or (named lock) hold their own. A scope lock
// releases when an exception leaves its scope; a lock file that cannot be opened fails the lock.
TEST_F(NamedMutexImplTest, OnlyTheHoldersLastUnlockReleasesAndOthersWait) {
    MutexImpl plain;
    NamedMutexImpl named(_folder.path().string(), Name);
    NamedMutexImpl namedOther(_folder.path().string(), Name);
    const struct {
        const char* what;
        platform::mutex::Mutex* held;
        platform::mutex::Mutex* other;
    } cases[] = {{"mutex", &plain, &plain},
                 {"named, one object", &named, &named},
                 {"named, two objects", &named, &namedOther}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THROW(c.held->unlock(), MutexException);
        c.held->lock();
        c.held->lock();
        c.held->unlock();
        std::thread([&] { EXPECT_THROW(c.held->unlock(), MutexException); }).join();
        std::atomic<bool> released{false};
        Background waiter([&] {
            AutoLock lock(c.other);
            EXPECT_TRUE(released.load());
        });
        EXPECT_TRUE(waiter.stillBlocked());
        EXPECT_EQ(c.held == &named, heldElsewhere());
        released.store(true);
        c.held->unlock();
        EXPECT_TRUE(waiter.finishesWithin());
    }
    EXPECT_FALSE(heldElsewhere());
    try {
        AutoLock lock(&plain);
        throw MutexException("leaving");
    } catch (const MutexException&) {
    }
    Background other([&] { AutoLock lock(&plain); });
    EXPECT_TRUE(other.finishesWithin());

    // A lock file that cannot be opened fails the lock, and nothing is held afterwards.
    std::ofstream(_folder.path() / "plain-file") << "x";
    NamedMutexImpl below((_folder.path() / "plain-file").string(), Name);
    EXPECT_THROW(below.lock(), MutexException);
    EXPECT_THROW(below.unlock(), MutexException);
}

}  // namespace
