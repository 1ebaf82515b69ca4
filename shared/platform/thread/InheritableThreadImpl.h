#pragma once

#include <memory>

#include "platform/thread/Runnable.h"
#include "platform/thread/Thread.h"
#include "platform/thread/ThreadFactory.h"

namespace platform::thread {

// Base of classes that are a thread and its body at once: subclasses override run. The thread
// itself comes from the factory (so a logging factory gives a logging thread) and is owned here.
// A subclass must join before its own destructor finishes, since run may use its members.
class InheritableThreadImpl : public Thread, public Runnable {
public:
    explicit InheritableThreadImpl(const ThreadFactory* factory) : _thread(factory->create(this)) {}

    void start() override { _thread->start(); }
    bool join(std::uint32_t timeoutMs) override { return _thread->join(timeoutMs); }
    void join() override { _thread->join(); }
    void terminate() override { _thread->terminate(); }
    bool isCurrent() const override { return _thread->isCurrent(); }
    const std::string& name() const override { return _thread->name(); }
    void setName(const std::string& name) override { _thread->setName(name); }

private:
    std::unique_ptr<Thread> _thread;
};

}  // namespace platform::thread
