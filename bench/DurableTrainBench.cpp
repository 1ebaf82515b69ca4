// Single-text train requests through the staged server, each acknowledged only once durable,
// next to what the disk allows: a bare loop of 100-byte appends, each followed by fdatasync, on
// the disk of the classifier folder.
//
//   DurableTrainBench --corpus=FOLDER [--seconds=5] [--large-mb=100] [--stage=FOLDER]
//
// Classifiers, stored in process before the server starts:
//   language  the engine trained with the whole train split of FOLDER/language
//   large     about --large-mb MB of generated features in two classes (0: left out)
// For each, with 1 and 8 client threads, each client sends train requests of one corpus text
// (about 100 bytes) for --seconds; printed: requests/s, p50 and p99 in milliseconds, the server's
// CPU time per request in microseconds, and the rate against the bare loop's. The bare loop runs
// for --seconds before the first phase and after each, and each phase is set against the mean of
// the runs just before and after it: the disk's rate drifts over a run. Last, the time of the first
// request to a classifier stored as the language file with a journal of 100,000 single-text train
// records: a restart's replay. Exits with 1 when a request is not answered with status 2000.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "classifier/ClassifierFactoryImpl.h"
#include "corpus/CorpusClassifier.h"
#include "corpus/CorpusFile.h"
#include "load/CorpusRequests.h"
#include "load/LatencySummary.h"
#include "load/LoopbackClient.h"
#include "load/ServerProcess.h"
#include "server/ClassifierJournal.h"
#include "util/Base64EncoderImpl.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "DurableTrainBench: %s\n", message.c_str());
    std::exit(1);
}

std::string option(int argc, char** argv, const std::string& name, std::string fallback) {
    const std::string prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]).rfind(prefix, 0) == 0) return argv[i] + prefix.size();
    }
    return fallback;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Two classes holding random 8-letter features until the stored form reaches bytes.
std::string largeClassifier(std::size_t bytes) {
    auto classifier = norvale::classifier::ClassifierFactoryImpl(nullptr).create();
    classifier->addClass("a");
    classifier->addClass("b");
    std::mt19937_64 random(7);
    std::string text;
    for (std::size_t round = 0; classifier->trainingDataSize() < bytes; ++round) {
        for (int t = 0; t < 1000; ++t) {
            text.clear();
            for (int w = 0; w < 50; ++w) {
                std::uint64_t bits = random();
                for (int c = 0; c < 8; ++c, bits >>= 5)
                    text.push_back(static_cast<char>('a' + bits % 26));
                text.push_back(' ');
            }
            classifier->train(t % 2 == 0 ? "a" : "b", text);
        }
        classifier->compact();
    }
    return classifier->getTrainingData();
}

// 100-byte appends with fdatasync for the given time: the disk's own rate.
double bareAppendRate(const fs::path& folder, double seconds) {
    const fs::path path = folder / "bare.bin";
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (file < 0) fail("cannot open " + path.string());
    const std::string record(100, 'r');
    long count = 0;
    const auto began = Clock::now();
    const auto end = began + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (::write(file, record.data(), record.size()) != 100 || ::fdatasync(file) != 0) {
            fail("bare append failed");
        }
        ++count;
    }
    const double took = std::chrono::duration<double>(Clock::now() - began).count();
    ::close(file);
    fs::remove(path);
    return static_cast<double>(count) / took;
}

struct Rate {
    double perSecond;
    double p50, p99;          // milliseconds
    double serverPerRequest;  // microseconds of the server's CPU time
};

Rate trainRequests(const bench::load::ServerProcess& server,
                   const std::vector<std::string>& requests, int clients, double seconds) {
    const std::uint16_t port = server.port();
    const double cpuBefore = server.cpuSeconds();
    std::vector<bench::load::LatencySummary> latencies(clients);
    std::vector<std::thread> threads;
    std::atomic<long> answered{0};
    const auto began = Clock::now();
    const auto end = began + std::chrono::duration<double>(seconds);
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            const bench::load::LoopbackClient client(port);
            for (std::size_t n = static_cast<std::size_t>(c); Clock::now() < end; n += clients) {
                const auto sent = Clock::now();
                const std::string answer = client.exchange(requests[n % requests.size()]);
                if (answer.find("statusCode=\"2000\"") == std::string::npos) {
                    fail("unexpected answer: " + answer.substr(0, 2000));
                }
                latencies[c].add(
                    std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
                ++answered;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    const double took = std::chrono::duration<double>(Clock::now() - began).count();
    const double cpu = server.cpuSeconds() - cpuBefore;
    bench::load::LatencySummary all;
    for (const auto& summary : latencies) all.merge(summary);
    return {static_cast<double>(answered.load()) / took, all.percentile(50) / 1000,
            all.percentile(99) / 1000, 1e6 * cpu / static_cast<double>(answered.load())};
}

}  // namespace

int main(int argc, char** argv) {
    const std::string corpus = option(argc, argv, "corpus", "");
    if (corpus.empty()) fail("--corpus=FOLDER is required");
    const double seconds = std::atof(option(argc, argv, "seconds", "5").c_str());
    const std::size_t largeMb =
        std::strtoul(option(argc, argv, "large-mb", "100").c_str(), nullptr, 10);
    const fs::path stage = option(argc, argv, "stage", QM_STAGE_DIR);

    std::string pattern = (fs::temp_directory_path() / "qm_durable_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp failed");
    const fs::path folder = pattern;
    fs::create_directories(folder / "classifiers");

    const auto train =
        bench::corpus::readCorpusFile((fs::path(corpus) / "language/train.tsv").string());
    const auto test =
        bench::corpus::readCorpusFile((fs::path(corpus) / "language/test.tsv").string());
    const auto labels = bench::corpus::corpusLabels(train);
    std::vector<std::pair<std::string, std::size_t>> classifiers;
    constexpr std::size_t Replayed = 100'000;
    {
        const std::string bytes =
            bench::corpus::trainCorpusClassifier(labels, train)->getTrainingData();
        writeFile(folder / "classifiers/language.dat", bytes);
        classifiers.emplace_back("language", bytes.size());
        using norvale::quillmark::ClassifierJournal;
        using norvale::quillmark::JournalCall;
        writeFile(folder / "classifiers/replayed.dat", bytes);
        std::string journal = ClassifierJournal::header(bytes);
        for (std::size_t n = 0; n < Replayed; ++n) {
            const bench::corpus::LabelledText& text = train[n % train.size()];
            journal += ClassifierJournal::record(
                {{JournalCall::Kind::Train, text.label, text.text.substr(0, 100)}});
        }
        writeFile(folder / "classifiers/replayed.dat.journal", journal);
    }
    if (largeMb > 0) {
        const std::string bytes = largeClassifier(largeMb << 20);
        writeFile(folder / "classifiers/large.dat", bytes);
        classifiers.emplace_back("large", bytes.size());
    }

    const util::Base64EncoderImpl base64;
    const bench::load::CorpusRequests requests(
        bench::load::targetNamespaceOf(readFile(stage / "xml/schemas/server/RequestSchema.xsd")),
        &base64);
    bench::load::ServerProcess server(stage, folder / "server", folder / "classifiers");
    server.start();

    double bareBefore = bareAppendRate(folder / "classifiers", seconds);
    std::printf("%-9s %10s %8s %10s %9s %9s %9s %9s %8s\n", "classifier", "MB", "clients",
                "requests/s", "p50 ms", "p99 ms", "server us", "bare/s", "of bare");
    for (const auto& [name, bytes] : classifiers) {
        std::vector<std::string> singles;
        for (std::size_t n = 0; n < test.size() && n < 4000; ++n) {
            const bench::corpus::LabelledText& text = test[n];
            const bool isLarge = name == "large";
            const bench::corpus::LabelledText one{isLarge ? (n % 2 == 0 ? "a" : "b") : text.label,
                                                  text.text.substr(0, 100)};
            singles.push_back(requests.train(name, std::span(&one, 1)));
        }
        // The first request loads the classifier; it is not timed.
        if (bench::load::LoopbackClient(server.port())
                .exchange(singles.front())
                .find("statusCode=\"2000\"") == std::string::npos) {
            fail("the first train request into " + name + " failed");
        }
        for (const int clients : {1, 8}) {
            const Rate rate = trainRequests(server, singles, clients, seconds);
            const double bareAfter = bareAppendRate(folder / "classifiers", seconds);
            const double bare = (bareBefore + bareAfter) / 2;
            std::printf("%-9s %10.1f %8d %10.0f %9.2f %9.2f %9.0f %9.0f %7.0f%%\n", name.c_str(),
                        static_cast<double>(bytes) / 1e6, clients, rate.perSecond, rate.p50,
                        rate.p99, rate.serverPerRequest, bare, 100 * rate.perSecond / bare);
            bareBefore = bareAfter;
        }
    }
    const auto loading = Clock::now();
    const std::string information =
        bench::load::LoopbackClient(server.port()).exchange(requests.getInformation("replayed"));
    if (information.find("statusCode=\"2000\"") == std::string::npos) {
        fail("the replayed classifier did not load: " + information.substr(0, 2000));
    }
    std::printf("first request to a classifier with a journal of %zu records: %.2f s\n", Replayed,
                std::chrono::duration<double>(Clock::now() - loading).count());
    server.stop();
    fs::remove_all(folder);
    return 0;
}
