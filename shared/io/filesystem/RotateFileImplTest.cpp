#include "io/filesystem/RotateFileImpl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "io/filesystem/TempFolder.h"

namespace {

using io::filesystem::test::TempFolder;

// The files of the folder by name, with their content.
std::map<std::string, std::string> files(const TempFolder& folder) {
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path(""))) {
        found[entry.path().filename().string()] =
            entry.is_directory() ? "(folder)" : TempFolder::read(entry.path().string());
    }
    return found;
}

TEST(RotateFileImplTest, ShiftsTheNumberedCopiesAndDropsTheOldest) {
    struct Case {
        int keep;
        std::map<std::string, std::string> before;
        std::map<std::string, std::string> after;
    };
    const Case cases[] = {
        {2,
         {{"log.txt", "new"}, {"log.txt.1", "old"}, {"log.txt.2", "oldest"}},
         {{"log.txt.1", "new"}, {"log.txt.2", "old"}}},
        {3,
         {{"log.txt", "new"}, {"log.txt.2", "older"}},
         {{"log.txt.1", "new"}, {"log.txt.3", "older"}}},
        {1,
         {{"log.txt", "new"}, {"log.txt.1", "old"}, {"log.txt.5", "stray"}},
         {{"log.txt.1", "new"}, {"log.txt.5", "stray"}}},
        {0, {{"log.txt", "new"}, {"log.txt.1", "old"}}, {{"log.txt.1", "old"}}},
        {2, {{"log.txt.1", "old"}}, {{"log.txt.2", "old"}}},
    };
    const io::filesystem::RotateFileImpl rotateFile;
    for (const Case& c : cases) {
        TempFolder folder;
        for (const auto& [name, content] : c.before) folder.write(name, content);
        rotateFile.rotate(folder.path("log.txt"), c.keep);
        EXPECT_EQ(c.after, files(folder)) << "keep " << c.keep;
    }
}

TEST(RotateFileImplTest, ACopyThatCannotBeDroppedStopsTheRotation) {
    TempFolder folder;
    const io::filesystem::RotateFileImpl rotateFile;
    folder.write("log.txt", "new");
    std::filesystem::create_directory(folder.path("log.txt.1"));
    folder.write("log.txt.1/inside", "x");
    EXPECT_THROW(rotateFile.rotate(folder.path("log.txt"), 1), io::filesystem::RotateFileException);
    EXPECT_EQ("new", files(folder).at("log.txt"));
}

}  // namespace
