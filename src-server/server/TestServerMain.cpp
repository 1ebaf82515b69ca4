// Helper program of the end-to-end tests: serves requests over the classifier folder named by its
// first argument (named locks in the second) on a port the system picks, writes that port as
// the first line of its standard output, and runs until it is killed. Like the server's start-up,
// it first removes the save files that killed servers left in the classifier folder.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "io/filesystem/RemoveFileImpl.h"
#include "server/LeftoverSaveFiles.h"
#include "server/RequestServerTestSupport.h"

namespace {

class SilentLog : public norvale::quillmark::Log {
public:
    void log(const std::string&) override {}
    void error(const std::string& message) override {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
    void test(const std::string&) override {}
    void assertionFailed(const std::string& expression, const std::string& description,
                         const std::string&, int) override {
        std::fprintf(stderr, "%s: %s\n", expression.c_str(), description.c_str());
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s classifierFolder lockFolder\n", argv[0]);
        return 2;
    }
    SilentLog log;
    const io::filesystem::RemoveFileImpl removeFile;
    norvale::quillmark::LeftoverSaveFiles(&removeFile, &log).removeFrom(argv[1]);
    norvale::quillmark::testing::RequestServer server(argv[1], argv[2], &log);
    std::printf("%u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    for (;;) ::pause();
}
