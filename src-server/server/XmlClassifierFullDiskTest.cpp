// Request execution over a classifier folder on a small file system that is full: the commit
// fails, and neither the stored file nor the classifier in memory changes. Needs root to mount
// the file system; skipped otherwise.

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>

#include "io/filesystem/FileDescriptor.h"
#include "server/XmlClassifierTestSupport.h"

namespace norvale::quillmark {
namespace {

using namespace test;
namespace fs = std::filesystem;

// A tmpfs of `size` bytes mounted over a folder while the object lives.
class ScopedTmpfs {
public:
    ScopedTmpfs(std::string folder, std::size_t size)
        : folder(std::move(folder)),
          mounted(::mount("qm_full_disk", this->folder.c_str(), "tmpfs", 0,
                          ("size=" + std::to_string(size)).c_str()) == 0) {}
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;
    ~ScopedTmpfs() {
        if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
    }

    const std::string folder;
    const bool mounted;
};

// Writes `path` until the file system refuses more; true when it ended full.
bool fill(const std::string& path) {
    io::filesystem::FileDescriptor file(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!file.valid()) return false;
    const std::string block(4096, 'f');
    for (;;) {
        const ssize_t written = ::write(file.get(), block.data(), block.size());
        if (written < 0) return errno == ENOSPC;
    }
}

using XmlClassifierFullDiskTest = StorageFixture;

// The failure is the server's own, so it is logged; the writer lock goes with the failed
// sequence, so the same write succeeds once there is room again.
TEST_F(XmlClassifierFullDiskTest, FailedCommitAnswers5000AndLosesNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    const ScopedTmpfs disk(root, 256 * 1024);
    if (!disk.mounted) GTEST_SKIP() << "could not mount a tmpfs: " << std::strerror(errno);
    createSpam();
    const std::string stored = files.content("spam");
    const std::string before = information();
    ASSERT_TRUE(fill(root + "/filler"));
    const std::string train = texts(text("t", "a long new text with many words never trained before")) +
                              writeCalls("Spam", call("train", "w1", "className=\"good\" textId=\"t\""));
    for (const std::string& body : {train, writeCalls("Other", call("create", "w1") + call("addClass", "w2", "className=\"x\""))}) {
        SCOPED_TRACE(body);
        log.clear();
        const std::string answer = run(body);
        EXPECT_EQ(5000, statusOf(answer)) << answer;
        const std::string lead = "An error occurred when executing a classifier query.\n\n";
        EXPECT_EQ(lead, messageOf(answer).substr(0, lead.size())) << answer;
        ASSERT_EQ(1u, log.texts("Error").size());
        EXPECT_EQ(lead, log.texts("Error")[0].substr(0, lead.size()));
        EXPECT_EQ(stored, files.content("spam"));
        // No half-written file is left beside the stored one and the filler.
        EXPECT_EQ(2, std::distance(fs::directory_iterator(root), fs::directory_iterator()));
        EXPECT_EQ(before, information());
        EXPECT_EQ(before, informationAfterRestart());
        EXPECT_EQ(4000, statusOf(information("Other")));
        EXPECT_EQ(1u, files.repository->count());
    }
    fs::remove(root + "/filler");
    EXPECT_EQ(2000, statusOf(run(train)));
    EXPECT_NE(before, information());
    EXPECT_EQ(information(), informationAfterRestart());
}

}  // namespace
}  // namespace norvale::quillmark
