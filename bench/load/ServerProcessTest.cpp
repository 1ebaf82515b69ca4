#include "load/ServerProcess.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "io/filesystem/TempFolder.h"
#include "load/CorpusRequests.h"
#include "load/LoopbackClient.h"
#include "util/Base64EncoderImpl.h"

namespace bench::load {
namespace {

TEST(ServerProcessTest, ResidentBytesOfAStatusText) {
    const std::string head = "Name:\tquillmarkserver\nVmPeak:\t  99999 kB\n";
    EXPECT_EQ(123456u * 1024, residentBytesOf(head + "VmRSS:\t  123456 kB\nVmData:\t 5 kB\n"));
    EXPECT_EQ(7u * 1024, residentBytesOf("VmRSS: 7 kB"));
    for (const std::string& bad :
         {head, head + "VmRSS:\t  12 MB\n", head + "VmRSS:\t\n", head + "VmHWM:\t 1 kB\n"}) {
        EXPECT_THROW(residentBytesOf(bad), ServerProcessException) << bad;
    }
}

// The staged executable in a folder of its own: it serves on the port it was given, answers a
// create with 2000, keeps the classifier in the given root, and ends on SIGTERM with code 0.
TEST(ServerProcessTest, StartsServesAndStopsTheStagedServer) {
    io::filesystem::test::TempFolder folder;
    const std::filesystem::path root = folder.path("classifiers");
    ServerProcess server(QM_STAGE_DIR, folder.path("server"), root);
    server.start();
    ASSERT_TRUE(server.running());
    EXPECT_GT(server.residentBytes(), 1u << 20);
    EXPECT_GE(server.cpuSeconds(), 0.0);

    const util::Base64EncoderImpl base64;
    const CorpusRequests requests(
        targetNamespaceOf(io::filesystem::test::TempFolder::read(
            std::string(QM_STAGE_DIR) + "/xml/schemas/server/RequestSchema.xsd")),
        &base64);
    const std::string answer =
        LoopbackClient(server.port()).exchange(requests.create("lang", {"de", "en"}));
    EXPECT_NE(std::string::npos, answer.find("statusCode=\"2000\"")) << answer;
    EXPECT_TRUE(std::filesystem::exists(root / "lang.dat"));

    EXPECT_EQ(0, server.stop());
    EXPECT_FALSE(server.running());
    EXPECT_THROW(LoopbackClient(server.port()).exchange("<x/>"), LoopbackClientException);
}

}  // namespace
}  // namespace bench::load
