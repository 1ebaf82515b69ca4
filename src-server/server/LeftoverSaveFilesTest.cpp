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
