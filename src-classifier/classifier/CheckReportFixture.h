#pragma once

// Test fixture for failed internal checks: the failing statement runs in a death-test child
// whose working directory is a fresh temporary folder, so the report appended to
// "assertion.txt" can be read afterwards without touching the build or source tree.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace norvale::classifier {

class CheckReportFixture : public testing::Test {
protected:
    void SetUp() override {
        _dir = std::filesystem::temp_directory_path() /
               ("qm_check_" + std::to_string(::getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(_dir);
        std::filesystem::create_directories(_dir);
    }
    void TearDown() override { std::filesystem::remove_all(_dir); }

    // Call first inside the death-test statement.
    void enterDir() const {
        if (::chdir(_dir.c_str()) != 0) std::_Exit(3);
    }
    std::string report() const {
        std::ifstream in(_dir / "assertion.txt", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void expectReport(const std::string& expression, const std::string& description) const {
        EXPECT_THAT(report(), testing::HasSubstr("Assertion failed. Message: " + expression +
                                                 "\nDescription: " + description + "\n"));
    }

    std::filesystem::path _dir;
};

}  // namespace norvale::classifier
