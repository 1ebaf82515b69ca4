#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "client/CommandRunner.h"
#include "client/SocketRequestSender.h"
#include "io/filesystem/TempFolder.h"
#include "net/socket/SocketTestSupport.h"
#include "testing/InProcessServer.h"
#include "testing/RecordingLog.h"
#include "util/Base64EncoderImpl.h"

// Commands whose standard output cannot be written, as on a full disk.

namespace norvale::quillmark::client {
namespace {

// Takes `room` bytes, then fails with ENOSPC; buffered, as std::cout is, so a short output fails
// only when it is flushed.
class FullDisk : public std::streambuf {
public:
    explicit FullDisk(std::size_t room) : _room(room) { setp(_buffer, _buffer + sizeof _buffer); }

    std::string written;

protected:
    int overflow(int c) override {
        if (sync() != 0) return traits_type::eof();
        if (c != traits_type::eof()) sputc(static_cast<char>(c));
        return traits_type::not_eof(c);
    }
    int sync() override {
        const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
        const std::size_t taken = std::min(pending, _room - written.size());
        written.append(pbase(), taken);
        setp(_buffer, _buffer + sizeof _buffer);
        if (taken == pending) return 0;
        errno = ENOSPC;
        return -1;
    }

private:
    const std::size_t _room;
    char _buffer[64];
};

// Passes requests on to the server and counts them.
class CountingSender : public RequestSender {
public:
    CountingSender(net::socket::ClientSocketFactory* sockets, std::uint16_t port)
        : _sender(sockets, "localhost", port, DefaultSilenceMilliseconds) {}

    std::string send(std::string_view request) override {
        ++requests;
        return _sender.send(request);
    }

    std::size_t requests = 0;

private:
    SocketRequestSender _sender;
};

// The message and status come once the output fails: after the final flush, or as soon as the
// answer that did not fit is written, with no further request sent.
TEST(CommandRunnerOutputTest, OutputThatCannotBeWrittenEndsTheCommand) {
    const io::filesystem::test::TempFolder temp;
    std::filesystem::create_directories(temp.path("classifiers"));
    std::filesystem::create_directories(temp.path("locks"));
    testing::RecordingLog log;
    const testing::InProcessServer server(temp.path("classifiers"), temp.path("locks"), &log);
    net::socket::test_support::Sockets sockets;
    const util::Base64EncoderImpl encoder;
    // Each name alone fills FullDisk's buffer.
    for (int i = 0; i < 20; ++i) {
        temp.write("corpus/" + std::string(64, 'f') + std::to_string(i),
                   "text " + std::to_string(i));
    }
    const std::string corpus = temp.path("corpus");
    const auto run = [&](std::vector<std::string> words, std::size_t room, std::string& err) {
        words.insert(words.begin(), {"--port", std::to_string(server.port())});
        CountingSender sender(&sockets.clients, server.port());
        FullDisk disk(room);
        std::ostream out(&disk);
        std::istringstream in;
        std::ostringstream errors;
        const Environment environment{&in,     &out,   &errors, false, [] { return 0.0; },
                                      nullptr, nullptr};
        const int status =
            CommandRunner(&sender, &encoder, environment).run(parseCommandLine(words));
        err = errors.str();
        return std::make_pair(status, sender.requests);
    };
    std::string err;
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"create", "news"}, {"add-class", "news", "a"}, {"train", "news", "a", corpus}}) {
        EXPECT_EQ(run(words, 1000, err).first, exitStatus::Success) << err;
    }

    const struct {
        std::vector<std::string> words;
        std::size_t room;
        std::size_t requests;
    } cases[] = {
        {{"create", "other"}, 0, 1},
        {{"--max-request", "1", "--parallel", "1", "classify", "news", corpus}, 0, 1},
        {{"--json", "classify", "news", corpus}, 100, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words.front());
        EXPECT_EQ(run(c.words, c.room, err), std::make_pair(exitStatus::LocalFailure, c.requests));
        EXPECT_EQ(err, "quillmark: cannot write the output: No space left on device\n");
    }
}

}  // namespace
}  // namespace norvale::quillmark::client
