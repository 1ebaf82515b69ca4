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
using Names = std::set<std::string>;

// A child that has exited; reaped (its pid belongs to no process) unless `zombie`.
pid_t exitedChild(bool zombie) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | (zombie ? WNOWAIT : 0));
    return child;
}

Names namesIn(const std::string& folder) {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

struct FailingRemoveFile : io::filesystem::RemoveFile {
    void remove(const std::string& path) const override {
        throw io::filesystem::RemoveFileException("cannot remove " + path);
    }
};

// Save files of classifiers and journals of processes that are gone (or zombies) go, each logged;
// those of live processes, other names, folders and what lies below them stay. A file that cannot
// be removed is an error and the rest go on; a missing folder is no error.
TEST(LeftoverSaveFilesTest, RemovesOnlySaveFilesOfProcessesThatAreGone) {
    io::filesystem::test::TempFolder folder, failing;
    const pid_t dead = exitedChild(false), zombie = exitedChild(true);
    ASSERT_TRUE(dead > 0 && zombie > 0);
    const Names gone{TemporarySaveName::make("spam.dat", dead, 3),
                     TemporarySaveName::make("ham.dat.journal", zombie, 18)};
    const std::string folderLike = TemporarySaveName::make("folder", dead, 1);
    const Names kept{
        TemporarySaveName::make("spam.dat", ::getpid(), 4),   // a save in progress here
        TemporarySaveName::make("spam.dat", ::getppid(), 5),  // and in another live process
        "a.dat", folderLike,
        TemporarySaveName::make("notes.txt", dead, 2)};  // not a save of this server's
    for (const std::string& name : kept) folder.write(name, "x");
    std::filesystem::remove(folder.path(folderLike));
    std::filesystem::create_directories(folder.path(folderLike) + "/" + *gone.begin());
    for (const std::string& name : gone) {
        folder.write(name, "half a classifier");
        failing.write(name, "");
    }

    testing::RecordingLog log;
    const io::filesystem::RemoveFileImpl removeFile;
    const FailingRemoveFile cannotRemove;
    LeftoverSaveFiles(&removeFile, &log).removeFrom(folder.path(""));
    LeftoverSaveFiles(&cannotRemove, &log).removeFrom(failing.path(""));
    LeftoverSaveFiles(&removeFile, &log).removeFrom(folder.path("missing"));
    ::waitpid(zombie, nullptr, 0);

    EXPECT_EQ(kept, namesIn(folder.path("")));
    EXPECT_TRUE(std::filesystem::exists(folder.path(folderLike) + "/" + *gone.begin()));
    EXPECT_EQ(gone, namesIn(failing.path("")));
    const auto entries = log.entries();
    EXPECT_EQ((Names{"Error: cannot remove " + failing.path(*gone.begin()),
                     "Error: cannot remove " + failing.path(*gone.rbegin()),
                     "Log: Removed the leftover save file '" + folder.path(*gone.begin()) + "'.",
                     "Log: Removed the leftover save file '" + folder.path(*gone.rbegin()) + "'."}),
              Names(entries.begin(), entries.end()));
}

}  // namespace
}  // namespace norvale::quillmark
