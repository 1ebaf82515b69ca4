// The client against a real quillmarkserver whose input limit is small.

#include <gtest/gtest.h>

#include <string>

#include "client/CommandRunner.h"
#include "client/RealServerTestSupport.h"
#include "io/filesystem/TempFolder.h"

namespace norvale::quillmark::client {
namespace {

// A text that does not fit the server's limit goes alone and is refused with 4013; batches of
// smaller texts stay under it when the client's bound does.
TEST(ClientInputLimitTest, RequestsAboveTheServersLimitAreReportedWithItsStatus) {
    test::ServerProcess server(16384);
    io::filesystem::test::TempFolder temp;
    EXPECT_EQ(test::runQuillmark(server.port(), {"create", "news"}).status, 0);
    EXPECT_EQ(test::runQuillmark(server.port(), {"add-class", "news", "a"}).status, 0);

    const std::string big = temp.write("big.txt", std::string(20000, 'w'));
    const test::ClientRun refused = test::runQuillmark(server.port(), {"train", "news", "a", big});
    EXPECT_EQ(refused.status, exitStatus::ErrorDocument);
    EXPECT_EQ(refused.err.rfind("quillmark: the server answered with status 4013:\n", 0), 0u)
        << refused.err;
    EXPECT_NE(refused.err.find("exceeded maximum input size 16384."), std::string::npos)
        << refused.err;

    std::filesystem::create_directories(temp.path("small"));
    for (int i = 0; i < 40; ++i) {
        temp.write("small/" + std::to_string(i),
                   std::string(1000, static_cast<char>('a' + i % 26)));
    }
    const test::ClientRun fits = test::runQuillmark(
        server.port(), {"--max-request", "15K", "train", "news", "a", temp.path("small")});
    EXPECT_EQ(fits.status, exitStatus::Success) << fits.err;
    EXPECT_EQ(test::runQuillmark(server.port(),
                                 {"--max-request", "64K", "train", "news", "a", temp.path("small")})
                  .status,
              exitStatus::ErrorDocument);
}

}  // namespace
}  // namespace norvale::quillmark::client
