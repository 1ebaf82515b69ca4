#include "server/StoreFollower.h"

#include <chrono>
#include <new>

namespace norvale::quillmark {

using namespace std::chrono_literals;

namespace {

// How long a wait for commits lasts before stop is looked at again, and how long a lost
// connection waits before it is opened anew.
constexpr auto Poll = 200ms;
constexpr auto Retry = 1s;

}  // namespace

StoreFollower::StoreFollower(ClassifierStore* store, StoreJobDistribution* repository,
                             const platform::thread::ThreadFactory* threads)
    : _store(store), _repository(repository), _threads(threads) {}

StoreFollower::~StoreFollower() {
    stop();
}

void StoreFollower::start() {
    _thread = _threads->create(this);
    _thread->setName("StoreFollowerThread");
    _thread->start();
}

void StoreFollower::stop() {
    if (!_thread) return;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _stopping = true;
    }
    _stopped.notify_all();
    _thread->join();
    _thread.reset();
}

void StoreFollower::run() {
    while (!_stopping) {
        try {
            if (const auto changes = _store->listen()) {
                // What was committed before this listener started is caught up here.
                _repository->followAll();
                follow(*changes);
            }
        } catch (const exceptions::Exception&) {
            // The connection is lost or cannot be made: reads check versions meanwhile.
        } catch (const std::bad_alloc&) {
            // The same.
        }
        std::unique_lock<std::mutex> lock(_mutex);
        _stopped.wait_for(lock, Retry, [this] { return _stopping.load(); });
    }
}

void StoreFollower::follow(ClassifierStore::Changes& changes) {
    while (!_stopping) {
        for (const ClassifierStore::Change& change : changes.wait(Poll)) {
            try {
                _repository->follow(change.key, change.version);
            } catch (const exceptions::Exception&) {
                // The next read of the classifier catches it up, or reports what failed.
            } catch (const std::bad_alloc&) {
                // The same.
            }
        }
    }
}

}  // namespace norvale::quillmark
