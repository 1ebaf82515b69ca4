#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/thread/OsInfo.h"
#include "platform/thread/Runnable.h"
#include "platform/thread/Thread.h"

namespace platform::thread {

// A POSIX thread that runs a Runnable. States: CREATED -> start -> STARTED -> join -> JOINING ->
// DELETED, or STARTED -> terminate -> DELETED. Starting twice, or destroying a STARTED thread, is a
// broken invariant (assertion): the owner joins before it destroys. start returns once the new
// thread runs, so isCurrent answers correctly from then on, also on the new thread itself.
class ThreadImpl : public Thread {
public:
    enum State { CREATED = 0, STARTED = 1, JOINING = 2, DELETED = 3 };

    ThreadImpl(const OsInfo* osInfo, Runnable* runnable, std::string name);
    ThreadImpl(const ThreadImpl&) = delete;
    ThreadImpl& operator=(const ThreadImpl&) = delete;
    ~ThreadImpl() override;

    void start() override;
    bool join(std::uint32_t timeoutMs) override;
    void join() override;
    // Cancels the thread and waits until it has ended. The thread ends at its next cancellation
    // point (a blocking system call), unwinding its stack; one that never reaches such a point
    // keeps terminate waiting.
    void terminate() override;
    bool isCurrent() const override;

    const std::string& name() const override { return _name; }
    void setName(const std::string& name) override { _name = name; }

    State state() const { return _state; }

protected:
    // What the new thread executes; runs the Runnable. Subclasses wrap it.
    virtual void body();
    // The name the thread had when it was started: the one its body reports.
    const std::string& runningName() const { return _runningName; }

private:
    static void* entry(void* self);
    void joined();

    // What terminate may need to know about the system; not owned.
    [[maybe_unused]] const OsInfo* _osInfo;
    Runnable* _runnable;
    std::optional<pthread_t> _handle;
    std::atomic<std::uint32_t> _id{0};  // written by the new thread, read by any thread
    State _state = CREATED;
    std::string _name;
    std::string _runningName;
};

}  // namespace platform::thread
