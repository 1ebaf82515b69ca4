#include "io/filesystem/TemporarySaveName.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using io::filesystem::TemporarySaveName;

TEST(TemporarySaveNameTest, OwnerReadsBackWhatMakeWrote) {
    EXPECT_EQ("/root/spam.dat.tmp-4321-7", TemporarySaveName::make("/root/spam.dat", 4321, 7));
    EXPECT_EQ(std::optional<pid_t>(4321), TemporarySaveName::owner("spam.dat.tmp-4321-7"));
    EXPECT_EQ(std::optional<pid_t>(12),
              TemporarySaveName::owner("a.tmp-3-4.tmp-12-18446744073709551615"));
}

TEST(TemporarySaveNameTest, LookAlikesHaveNoOwner) {
    for (const char* name :
         {"a.dat", "a.tmp-12", "a.tmp-12-", "a.tmp--12-1", "a.tmp-x-1", "a.tmp-1-x", "a.tmp-1-2-3",
          "a.tmp-+1-2", "a.tmp-1-+2", "a.tmp-0-1", "a.tmp-99999999999-1", "a.tmp-1-2 ", ".tmp-12-1",
          "a.TMP-12-1", "a_tmp-12-1", "a.tmp-12-99999999999999999999"}) {
        EXPECT_EQ(std::nullopt, TemporarySaveName::owner(name)) << name;
    }
}

}  // namespace
