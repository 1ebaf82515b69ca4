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
#include <set>
#include <string>

#include "platform/PlatformTestSupport.h"
#include "platform/mutex/AutoLock.h"
#include "platform/mutex/MutexException.h"

namespace {

using platform::mutex::AutoLock;
using platform::mutex::classifierLockName;
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

// Every process must pick the same stripe for a key, so the names are fixed values, and many
// keys spread over every stripe.
TEST_F(NamedMutexImplTest, ClassifierLockNamesAreAFixedSetOfStripes) {
    EXPECT_EQ("classifier-39", classifierLockName("./classifiers/spam.dat"));
    EXPECT_EQ("classifier-37", classifierLockName(""));
    std::set<std::string> names;
    for (int n = 0; n < 1000; ++n) names.insert(classifierLockName("c/" + std::to_string(n)));
    EXPECT_EQ(platform::mutex::ClassifierLockStripes, names.size());
    for (const std::string& name : names) EXPECT_EQ(0u, name.rfind("classifier-", 0)) << name;
}

TEST_F(NamedMutexImplTest, WaitsForAnotherProcessAndIsFreedWhenThatProcessIsKilled) {
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

TEST_F(NamedMutexImplTest, AFolderThatCannotExistFailsWithTheSystemText) {
    const auto file = _folder.path() / "plain-file";
    std::ofstream(file) << "x";
    NamedMutexImpl mutex(file.string(), Name);
    try {
        mutex.lock();
        FAIL() << "no exception";
    } catch (const MutexException& e) {
        EXPECT_EQ("Error creating the mutex. Failed opening the lock file '" + file.string() + "/" +
                      Name +
                      "' using 'open'. System error message: Not a directory. Error code: 20.",
                  std::string(e.what()));
    }
    EXPECT_THROW(mutex.unlock(), MutexException);  // nothing is held after a failed lock
}

}  // namespace
