#include "platform/errorresources/SystemErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>

namespace {

using platform::errorresources::ErrorMapper;
using platform::errorresources::systemErrorText;

class TableMapper : public ErrorMapper {
public:
    bool lookup(int code, std::string& text) const override {
        const auto it = _table.find(code);
        if (it == _table.end()) return false;
        text = it->second;
        return true;
    }
    std::map<int, std::string> _table{{ENOENT, "never used"}, {10048, "Address already in use"}};
};

TEST(SystemErrorTextTest, SystemTextGetsFullStopAndCode) {
    EXPECT_EQ("System error message: No such file or directory. Error code: 2.",
              systemErrorText(ENOENT));
}

TEST(SystemErrorTextTest, MapperOnlyWhenTheSystemHasNoText) {
    const TableMapper mapper;
    EXPECT_EQ("System error message: No such file or directory. Error code: 2.",
              systemErrorText(ENOENT, &mapper));
    EXPECT_EQ("System error message: Address already in use. Error code: 10048.",
              systemErrorText(10048, &mapper));
    EXPECT_EQ("System error message: Error message not found. Error code: 10049.",
              systemErrorText(10049, &mapper));
    EXPECT_EQ("System error message: Error message not found. Error code: 10048.",
              systemErrorText(10048));
}

TEST(SystemErrorTextTest, LastErrorReadsErrno) {
    errno = EADDRINUSE;
    EXPECT_EQ(systemErrorText(EADDRINUSE), platform::errorresources::lastSystemErrorText());
}

}  // namespace
