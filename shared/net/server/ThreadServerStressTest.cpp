#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "net/server/ThreadServer.h"
#include "net/server/ThreadServerTestSupport.h"

namespace {

using namespace net::server;
using namespace net::server::test_support;

std::size_t entries(const char* folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

// An ended thread can stay listed for a moment after its join; wait for the count to settle.
bool settlesAt(const char* folder, std::size_t expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (entries(folder) != expected) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST(ThreadServerStressTest, ManyClientsAllAnsweredNothingLeaked) {
    constexpr int Clients = 32;
    constexpr int Connections = 2000;
    constexpr std::uint32_t MaxClients = 8;
    // A thread started and joined first: runtimes that add a helper thread of their own at the
    // first thread start (ThreadSanitizer does) have done so before the baseline is taken.
    std::thread([] {}).join();
    const std::size_t descriptorsBefore = entries("/proc/self/fd");
    const std::size_t threadsBefore = entries("/proc/self/task");

    platform::thread::OsInfoImpl os;
    platform::thread::ThreadFactoryImpl threads(&os);
    Probe probe;
    RecordingLog log;
    std::atomic<int> answered{0};
    std::atomic<int> wrong{0};
    {
        ThreadServer<EchoConnection, Probe*> server(&threads, 0, MaxClients, 64, &probe, &log);
        server.createClientsThread()->start();
        server.deleteClientsThread()->start();
        std::vector<std::thread> clients;
        for (int c = 0; c < Clients; ++c) {
            clients.emplace_back([&, c] {
                for (int i = c; i < Connections; i += Clients) {
                    Client client(server.localPort());
                    const std::string request = "request " + std::to_string(i);
                    client.send(request);
                    const std::string answer = client.answer();
                    const std::size_t colon = answer.find(':');
                    if (colon != std::string::npos && answer.substr(colon + 1) == request) {
                        ++answered;
                    } else {
                        ++wrong;
                    }
                }
            });
        }
        for (auto& client : clients) client.join();
        // Every connection is joined and deleted by the running server, before any stop.
        EXPECT_TRUE(probe.waitUntil(
            [&] { return probe.destroyed.size() == static_cast<std::size_t>(Connections); }));
        server.stop();
    }
    EXPECT_EQ(Connections, answered.load());
    EXPECT_EQ(0, wrong.load());
    probe.read([&] {
        EXPECT_EQ(static_cast<std::size_t>(Connections), probe.created.size());
        EXPECT_EQ(static_cast<std::size_t>(Connections), probe.quit.size());
        EXPECT_TRUE(probe.stopped.empty());
    });
    // At most the accept failure of the shutdown (none when stop came between two passes).
    const std::vector<std::string> reports = log.reports();
    EXPECT_GE(1u, reports.size());
    for (const std::string& report : reports) {
        EXPECT_EQ(0u, report.find("Error accepting a connection. ")) << report;
    }
    EXPECT_TRUE(settlesAt("/proc/self/fd", descriptorsBefore))
        << entries("/proc/self/fd") << " descriptors, " << descriptorsBefore << " before";
    EXPECT_TRUE(settlesAt("/proc/self/task", threadsBefore))
        << entries("/proc/self/task") << " threads, " << threadsBefore << " before";
}

}  // namespace
