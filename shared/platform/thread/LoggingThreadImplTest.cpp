#include "platform/thread/LoggingThreadImpl.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <stdexcept>

#include "exceptions/Exception.h"
#include "platform/PlatformTestSupport.h"
#include "platform/thread/CurrentThread.h"
#include "platform/thread/LoggingThreadFactoryImpl.h"
#include "platform/thread/OsInfoImpl.h"

namespace {

using platform::thread::LoggingThreadImpl;

// Writes what it is told into "threadlog.txt" in the working directory, preceded by the id of the
// reporting thread, so the test can read it after the process has ended.
class FileThreadLog : public platform::thread::ThreadLog {
public:
    void report(const char* text) override {
        std::ofstream("threadlog.txt") << platform::thread::currentThreadId() << "|" << text;
    }
};

class Thrower : public platform::thread::Runnable {
public:
    explicit Thrower(std::function<void()> body) : _body(std::move(body)) {}
    void run() override { _body(); }

private:
    std::function<void()> _body;
};

class LoggingThreadImplTest : public testing::Test {
protected:
    // Runs body on a logging thread named "Worker" inside a death-test child.
    void runAndDie(const std::function<void()>& body) {
        platform::testing::enterFolder(_folder.path());
        Thrower runnable(body);
        LoggingThreadImpl thread(&_osInfo, &runnable, "Worker", &_log);
        thread.start();
        thread.join();
        std::_Exit(0);
    }

    // The reported text after checking it names the reporting thread; "" when nothing was logged.
    std::string loggedText() const {
        const std::string logged = platform::testing::readFile(_folder.path() / "threadlog.txt");
        const auto bar = logged.find('|');
        if (bar == std::string::npos) return "";
        const std::string id = logged.substr(0, bar);
        const std::string text = logged.substr(bar + 1);
        EXPECT_NE(std::string::npos, text.find("\nThread id: " + id + ".")) << text;
        return text;
    }

    std::string assertionReport() const {
        return platform::testing::readFile(_folder.path() / "assertion.txt");
    }

    // Replaces the thread id, which the parent cannot know, by "<id>".
    static std::string withoutId(std::string text) {
        const auto start = text.find("Thread id: ");
        if (start == std::string::npos) return text;
        const auto end = text.find('.', start);
        return text.replace(start + 11, end - start - 11, "<id>");
    }

    platform::thread::OsInfoImpl _osInfo;
    FileThreadLog _log;
    platform::testing::TempFolder _folder;
};

// Whatever a thread throws is logged with the thread's name and id, and then ends the process
// through an assertion that carries the same text.
TEST_F(LoggingThreadImplTest, AnythingThrownIsLoggedThenEndsTheProcess) {
    const struct {
        std::function<void()> body;
        std::string logged;
    } cases[] = {
        {[] { throw exceptions::Exception("The classifier file is corrupt."); },
         "An Exception occurred in one of the running threads.\nThread name: Worker.\nThread id: "
         "<id>.\nThe classifier file is corrupt."},
        {[] { throw std::runtime_error("vector too long"); },
         "A std exception occurred in one of the running threads.\nThread name: Worker.\nThread "
         "id: <id>.\nvector too long"},
        {[] { throw 42; },
         "A running thread threw a ... exception.\nThread name: Worker.\nThread id: <id>."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        std::filesystem::remove(_folder.path() / "assertion.txt");
        EXPECT_DEATH(runAndDie(c.body), "");
        const std::string text = loggedText();
        EXPECT_EQ(c.logged, withoutId(text));
        EXPECT_NE(std::string::npos,
                  assertionReport().find("Assertion failed. Message: false\nDescription: " +
                                         text + "\nFile: "));
    }
}

// The unwinding of a cancelled thread passes the body's handlers; a report would end the process.
TEST_F(LoggingThreadImplTest, TerminatingABlockedThreadIsNotReportedAsAFailure) {
    if (platform::testing::cancellationUnderAddressSanitizer) {
        GTEST_SKIP() << "thread cancellation is not supported by AddressSanitizer";
    }
    Thrower runnable([] {
        for (;;) ::pause();
    });
    LoggingThreadImpl thread(&_osInfo, &runnable, "Stuck", &_log);
    thread.start();
    thread.terminate();
    EXPECT_EQ(platform::thread::ThreadImpl::DELETED, thread.state());
    EXPECT_FALSE(std::filesystem::exists("threadlog.txt"));
}

}  // namespace
