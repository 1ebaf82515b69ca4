#pragma once

#include <gtest/gtest.h>

#include <string>

namespace norvale::quillmark::testing {

// The message of the E that `body` throws; a test failure when it throws none.
template <typename E, typename Body>
std::string messageOf(Body body) {
    try {
        body();
    } catch (const E& e) {
        return e.what();
    }
    ADD_FAILURE() << "the expected exception was not thrown";
    return "";
}

}  // namespace norvale::quillmark::testing
