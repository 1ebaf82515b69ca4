#include "posix/dll/Dll.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DllTest, LoadsALibraryAndCallsAProcedure) {
    const posix::dll::Dll libm("libm.so.6");
    const auto cosine = libm.getProc<double (*)(double)>("cos");
    ASSERT_NE(nullptr, cosine);
    EXPECT_DOUBLE_EQ(1.0, cosine(0.0));
}

TEST(DllTest, MissingLibraryAndProcedure) {
    try {
        posix::dll::Dll("libqm-not-installed.so");
        FAIL() << "no exception";
    } catch (const posix::dll::DllException& e) {
        const std::string message = e.what();
        EXPECT_TRUE(message.starts_with("Couldn't load the dll: libqm-not-installed.so. "))
            << message;
        EXPECT_NE(std::string::npos, message.find("libqm-not-installed.so: cannot open"));
    }
    const posix::dll::Dll libm("libm.so.6");
    try {
        libm.getProc("RtlFreeUserThreadStack");
        FAIL() << "no exception";
    } catch (const posix::dll::DllException& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with(
            "Error getting proc 'RtlFreeUserThreadStack' from the dll 'libm.so.6'. "))
            << e.what();
    }
}

}  // namespace
