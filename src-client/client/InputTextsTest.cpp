#include "client/InputTexts.h"

#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <functional>
#include <ios>
#include <new>
#include <sstream>
#include <streambuf>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "io/filesystem/TempFolder.h"
#include "testing/MessageOf.h"

namespace norvale::quillmark::client {
namespace {

using testing::messageOf;

// Standard input that hands out `before` bytes and then throws `failure`: std::bad_alloc, as a
// copy into a string that can no longer grow does, or the error with which the standard library
// reports a folder given as input.
class FailingInput : public std::streambuf {
public:
    FailingInput(std::string before, std::exception_ptr failure)
        : _bytes(std::move(before)), _failure(std::move(failure)) {
        setg(_bytes.data(), _bytes.data(), _bytes.data() + _bytes.size());
    }

protected:
    int_type underflow() override { std::rethrow_exception(_failure); }

private:
    std::string _bytes;
    std::exception_ptr _failure;
};

// Standard input is read whole or not at all: what a read that failed got must not pass for the
// text.
TEST(InputTextsTest, StandardInputIsReadWholeOrNotAtAll) {
    FailingInput buffer("the start of a long text", std::make_exception_ptr(std::bad_alloc()));
    std::istream cut(&buffer);
    EXPECT_THROW(InputTexts(&cut).read({"-", 0, true}), std::bad_alloc);
    FailingInput folder("", std::make_exception_ptr(std::ios_base::failure(
                                "underflow", std::error_code(EISDIR, std::generic_category()))));
    std::istream unreadable(&folder);
    EXPECT_EQ("Cannot read standard input: Is a directory.", messageOf<InputException>([&] {
                  InputTexts(&unreadable).read({"-", 0, true});
              }));
}

// A text is read up to the bound and no further: an endless stream ends with a message, and a
// file known to be larger is refused as the texts are collected, before any is read. A device or
// a pipe (as the shell's <(command) names one) has no size to ask: it is collected as a stream.
TEST(InputTextsTest, TextsAboveTheBoundAreRefused) {
    const io::filesystem::test::TempFolder temp;
    const std::string big = temp.write("big.txt", "");
    std::filesystem::resize_file(big, (1 << 30) + 1);  // sparse: nothing is written
    std::istringstream eight("12345678"), more("123456789");
    const InputTexts small(&more, 8);
    EXPECT_EQ("12345678", InputTexts(&eight, 8).read({"-", 0, true}));
    const struct {
        std::function<void()> read;
        std::string message;
    } cases[] = {
        {[&] {
             small.read({"-", 0, true});
         },
         "Standard input holds more than 8 bytes, the most the client sends as one text."},
        {[&] { small.read(small.collect({"/dev/zero"}).at(0)); },
         "'/dev/zero' holds more than 8 bytes, the most the client sends as one text."},
        {[&] { InputTexts(nullptr).collect({big}); },
         "'" + big + "' holds more than 1 GiB, the most the client sends as one text."},
    };
    for (const auto& c : cases) EXPECT_EQ(c.message, messageOf<InputException>(c.read));
}

// A read that waits for bytes, from a named pipe without a writer or standard input from a pipe
// (or terminal) that sends nothing, ends once the interrupt descriptor is readable.
TEST(InputTextsTest, AReadThatWaitsEndsOnTheInterrupt) {
    const io::filesystem::test::TempFolder temp;
    const std::string fifo = temp.path("fifo");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    int silent[2], interrupt[2];
    ASSERT_EQ(0, ::pipe(silent));
    ASSERT_EQ(0, ::pipe(interrupt));
    ASSERT_EQ(1, ::write(interrupt[1], "x", 1));
    const InputTexts inputs(nullptr, MaxTextBytes, silent[0], interrupt[0]);
    EXPECT_THROW(inputs.read({fifo, 0, false}), InputInterruptedException);
    EXPECT_THROW(inputs.read({"-", 0, true}), InputInterruptedException);
    for (const int end : {silent[0], silent[1], interrupt[0], interrupt[1]}) ::close(end);
}

// A folder below an input folder that cannot be read is named itself. Root reads any folder,
// so the texts are collected on a thread whose file-system user is nobody (a user without the
// right to change it stays who it is, and the folder's mode stops it alike).
TEST(InputTextsTest, AnUnreadableSubfolderIsNamed) {
    const io::filesystem::test::TempFolder temp;
    temp.write("texts/a.txt", "a");
    const std::string sub = temp.path("texts/sub");
    ASSERT_EQ(0, ::mkdir(sub.c_str(), 0));
    ASSERT_EQ(0, ::chmod(temp.path("").c_str(), 0755));
    std::string message;
    std::thread([&] {
        ::setfsuid(65534);
        message =
            messageOf<InputException>([&] { InputTexts(nullptr).collect({temp.path("texts")}); });
    }).join();
    EXPECT_EQ("Cannot read the folder '" + sub + "': Permission denied.", message);
}

}  // namespace
}  // namespace norvale::quillmark::client
