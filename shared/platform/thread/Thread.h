#pragma once

#include <string>

#include "platform/thread/IsCurrentable.h"
#include "platform/thread/Joinable.h"
#include "platform/thread/Startable.h"
#include "platform/thread/Terminatable.h"

namespace platform::thread {

// A thread of the process: created, started once, then joined (or terminated) before it is
// destroyed. Its owner calls start, join, terminate and setName; isCurrent may be called from any
// thread. The name shows in failure reports; set it before start.
class Thread : public Startable, public Joinable, public Terminatable, public IsCurrentable {
public:
    virtual const std::string& name() const = 0;
    virtual void setName(const std::string& name) = 0;
};

}  // namespace platform::thread
