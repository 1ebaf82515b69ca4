#include "server/LeftoverSaveFiles.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "io/filesystem/RemoveFileImpl.h"
#include "io/filesystem/TempFolder.h"
#include "io/filesystem/TemporarySaveName.h"
#include "testing/RecordingLog.h"

namespace norvale::quillmark {
namespace {

using io::filesystem::TemporarySaveName;
using io::filesystem::test::TempFolder;

// A pid no process has: a child that has exited and been reaped.
pid_t deadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

// A child that has exited but is not yet collected: a zombie until the test reaps it.
pid_t zombiePid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
    return child;
}

class FailingRemoveFile : public io::filesystem::RemoveFile {
public:
    void remove(const std::string& path) const override {
        throw io::filesystem::RemoveFileException("cannot remove " + path);
    }
};

class LeftoverSaveFilesTest : public ::testing::Test {
protected:
    std::set<std::string> namesLeft() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(_folder.path(""))) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    TempFolder _folder;
    testing::RecordingLog _log;
    const io::filesystem::RemoveFileImpl _removeFile;
};

TEST_F(LeftoverSaveFilesTest, RemovesOnlySaveFilesOfProcessesThatAreGone) {
    const pid_t dead = deadPid();
    ASSERT_GT(dead, 0);
    const pid_t zombie = zombiePid();
    ASSERT_GT(zombie, 0);
    const std::string gone = TemporarySaveName::make("spam.dat", dead, 3);
    const std::string goneToo = TemporarySaveName::make("ham.dat", zombie, 18);
    const std::vector<std::string> kept{
        TemporarySaveName::make("spam.dat", ::getpid(), 4),   // a save in progress here
        TemporarySaveName::make("spam.dat", ::getppid(), 5),  // and in another live process
        "a.dat", "a.tmp-x-1", "a.tmp-" + std::to_string(dead)};
    for (const std::string& name : kept) _folder.write(name, "x");
    _folder.write(gone, "half a classifier");
    _folder.write(goneToo, "");
    // Not a file, and a file below the folder: both out of reach.
    const std::string folderLike = TemporarySaveName::make("folder", dead, 1);
    std::filesystem::create_directories(_folder.path(folderLike) + "/" + gone);

    LeftoverSaveFiles(&_removeFile, &_log).removeFrom(_folder.path(""));
    int status = 0;
    ::waitpid(zombie, &status, 0);

    std::set<std::string> expected(kept.begin(), kept.end());
    expected.insert(folderLike);
    EXPECT_EQ(expected, namesLeft());
    EXPECT_TRUE(std::filesystem::exists(_folder.path(folderLike) + "/" + gone));
    const std::vector<std::string> logged = _log.texts("Log");
    EXPECT_EQ((std::multiset<std::string>{
                  "Removed the leftover save file '" + _folder.path(gone) + "'.",
                  "Removed the leftover save file '" + _folder.path(goneToo) + "'."}),
              std::multiset<std::string>(logged.begin(), logged.end()));
    EXPECT_TRUE(_log.texts("Error").empty());
}

TEST_F(LeftoverSaveFilesTest, FileThatCannotBeRemovedIsAnErrorAndTheRestGoOn) {
    const pid_t dead = deadPid();
    const std::string first = TemporarySaveName::make("a.dat", dead, 1);
    const std::string second = TemporarySaveName::make("b.dat", dead, 2);
    _folder.write(first, "");
    _folder.write(second, "");
    const FailingRemoveFile failing;

    LeftoverSaveFiles(&failing, &_log).removeFrom(_folder.path(""));
    LeftoverSaveFiles(&_removeFile, &_log).removeFrom(_folder.path("missing"));

    const std::vector<std::string> errors = _log.texts("Error");
    EXPECT_EQ((std::set<std::string>{"cannot remove " + _folder.path(first),
                                     "cannot remove " + _folder.path(second)}),
              std::set<std::string>(errors.begin(), errors.end()));
    EXPECT_TRUE(_log.texts("Log").empty());
    EXPECT_EQ((std::set<std::string>{first, second}), namesLeft());
}

}  // namespace
}  // namespace norvale::quillmark
