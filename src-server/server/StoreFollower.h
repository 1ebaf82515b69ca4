#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/thread/Runnable.h"
#include "platform/thread/Thread.h"
#include "platform/thread/ThreadFactory.h"
#include "server/ClassifierStore.h"
#include "server/StoreJobDistribution.h"

namespace norvale::quillmark {

// Keeps the classifiers a server holds in memory up to date with what other servers commit to the
// shared store: a thread of its own listens for commits and catches each cached classifier up as
// they arrive, so that a read seldom finds records to replay. Reads never rely on it, since a
// notice may still be on its way when a read comes: each read asks the store for the committed
// version (StoreJobDistribution::get). When the store cannot report commits, or the listening
// connection is lost, it listens anew a second later and then catches up whatever is behind.
// Construct, start, stop and destroy on one thread; the collaborators are not owned.
class StoreFollower : public platform::thread::Runnable {
public:
    StoreFollower(ClassifierStore* store, StoreJobDistribution* repository,
                  const platform::thread::ThreadFactory* threads);
    StoreFollower(const StoreFollower&) = delete;
    StoreFollower& operator=(const StoreFollower&) = delete;
    ~StoreFollower() override;

    void start();
    // Returns once the thread has ended.
    void stop();

private:
    void run() override;
    // Listens until the connection is lost or stop is asked for.
    void follow(ClassifierStore::Changes& changes);

    ClassifierStore* _store;
    StoreJobDistribution* _repository;
    const platform::thread::ThreadFactory* _threads;
    std::unique_ptr<platform::thread::Thread> _thread;

    std::mutex _mutex;  // guards _stopping for the waits between attempts
    std::condition_variable _stopped;
    std::atomic<bool> _stopping{false};
};

}  // namespace norvale::quillmark
