#include "server/TerminateHandlerImpl.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <exception>
#include <thread>

#include "platform/PlatformTestSupport.h"
#include "server/LogImpl.h"
#include "server/LogTestSupport.h"

namespace {

using namespace norvale::quillmark;
using namespace norvale::quillmark::testing;

void previousHandler() {
    std::_Exit(7);
}

class TerminateHandlerTest : public ::testing::Test {
protected:
    platform::testing::TempFolder _folder;
    RecordingSaveFile _file;
    RecordingRotateFile _rotate;
    RecordingWriteDump _dump;
    FixedMemoryStatus _memory{0};
};

// An exception nobody catches, here on a thread of its own, ends in the handler; the logged line
// goes to standard output, which the death test matches.
TEST_F(TerminateHandlerTest, AnUncaughtExceptionOnAnyThreadIsLoggedAndExitsWithMinusOne) {
    EXPECT_EXIT(
        {
            Metrics metrics;
            LogImpl log(&_file, &_rotate, &_dump, &_memory, &metrics, "unused", "unused/");
            TerminateHandlerImpl handler(&log);
            handler.install();
            ::dup2(STDERR_FILENO, STDOUT_FILENO);
            std::thread([] { throw 42; }).join();
        },
        ::testing::ExitedWithCode(255),
        // Death tests match with POSIX extended expressions.
        "^[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} \\[Error\\] "
        "\\[ThreadId: [0-9]+\\]\nThe termination handler was called\\.\n\n$");
}

TEST_F(TerminateHandlerTest, UninstallRestoresThePreviousHandler) {
    EXPECT_EXIT(
        {
            std::set_terminate(&previousHandler);
            Metrics metrics;
            LogImpl log(&_file, &_rotate, &_dump, &_memory, &metrics, "unused", "unused/");
            {
                TerminateHandlerImpl handler(&log);
                handler.install();
                handler.install();  // the same handler again is allowed
                if (std::get_terminate() == &previousHandler) std::_Exit(1);
            }
            TerminateHandlerImpl second(&log);
            second.install();
            second.uninstall();
            std::terminate();
        },
        ::testing::ExitedWithCode(7), "");
}

}  // namespace
