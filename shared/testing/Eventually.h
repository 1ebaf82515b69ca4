#pragma once

// Waiting for what another thread or process brings about, where nothing signals it: the
// condition is asked again every `step` until it holds or `bound` has passed.

#include <chrono>
#include <thread>

namespace norvale::quillmark::testing {

// Whether `done` held within `bound`.
template <typename Done>
bool eventually(Done done, std::chrono::milliseconds bound = std::chrono::seconds(20),
                std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
    for (const auto giveUp = std::chrono::steady_clock::now() + bound; !done();
         std::this_thread::sleep_for(step)) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
    }
    return true;
}

}  // namespace norvale::quillmark::testing
