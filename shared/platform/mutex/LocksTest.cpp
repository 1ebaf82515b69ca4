// Who waits for whom: the mutex and the named file lock. (The stop event
// is waited for wherever the server stops: QuillmarkServerTest, ServerServiceTest.)
#include "platform/mutex/NamedMutexImpl.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "io/filesystem/TempFolder.h"
#include "platform/PlatformTestSupport.h"
#include "platform/mutex/AutoLock.h"
#include "platform/mutex/MutexException.h"
#include "platform/mutex/MutexImpl.h"

namespace {

using namespace platform::mutex;
using platform::testing::Background;

constexpr const char* Name = ".:classifiers::spam.dat";

// The holder may lock again and releases after its last unlock; nobody else may unlock; other
// threads wait, whether they share the object or (named lock) hold their own, and so does
// another process until the holding one is killed. A missing lock folder is made again, but a
// lock file that cannot be opened fails the lock. Every process must pick
// the same stripe for a classifier, so the names are fixed values.
TEST(NamedMutexImplTest, OnlyTheHoldersLastUnlockReleasesAndOthersWait) {
    EXPECT_EQ("classifier-39", classifierLockName("./classifiers/spam.dat"));
    const io::filesystem::test::TempFolder folder;
    MutexImpl plain;
    NamedMutexImpl named(folder.path(""), Name);
    NamedMutexImpl namedOther(folder.path(""), Name);
    const struct {
        const char* what;
        Mutex* held;
        Mutex* other;
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
        released.store(true);
        c.held->unlock();
        EXPECT_TRUE(waiter.finishesWithin());
    }
    int ready[2];
    ASSERT_EQ(0, ::pipe(ready));
    const pid_t child = ::fork();
    if (child == 0) {
        named.lock();
        if (::write(ready[1], "L", 1) != 1) ::_exit(2);
        for (;;) ::pause();
    }
    char byte = 0;
    ASSERT_EQ(1, ::read(ready[0], &byte, 1));
    ::close(ready[0]);
    ::close(ready[1]);
    {
        Background waiter([&] { AutoLock lock(&namedOther); });
        EXPECT_TRUE(waiter.stillBlocked());
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        EXPECT_TRUE(waiter.finishesWithin());
    }

    NamedMutexImpl remade(folder.path("removed"), Name);
    { AutoLock lock(&remade); }  // the lock folder is made again
    NamedMutexImpl orphan(folder.path("no/such"), Name);
    EXPECT_THROW(orphan.lock(), MutexException);

    NamedMutexImpl below(folder.write("plain-file", "x"), Name);
    EXPECT_THROW(below.lock(), MutexException);
    EXPECT_THROW(below.unlock(), MutexException);
}

}  // namespace
