#include "client/InputTexts.h"

#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <streambuf>
#include <string>
#include <utility>

namespace norvale::quillmark::client {
namespace {

// Standard input that hands out `before` bytes and then fails for want of memory, as a copy
// into a string that can no longer grow does.
class ShortOfMemory : public std::streambuf {
public:
    explicit ShortOfMemory(std::string before) : _bytes(std::move(before)) {
        setg(_bytes.data(), _bytes.data(), _bytes.data() + _bytes.size());
    }

protected:
    int_type underflow() override { throw std::bad_alloc(); }

private:
    std::string _bytes;
};

// Standard input is read whole or not at all: the copy into a string swallows a failure, and
// what it got must not pass for the text.
TEST(InputTextsTest, StandardInputIsReadWholeOrNotAtAll) {
    std::istringstream whole("all of it");
    EXPECT_EQ("all of it", InputTexts(&whole).read({"-", 0, true}));
    ShortOfMemory buffer("the start of a long text");
    std::istream cut(&buffer);
    EXPECT_THROW(InputTexts(&cut).read({"-", 0, true}), std::bad_alloc);
}

}  // namespace
}  // namespace norvale::quillmark::client
