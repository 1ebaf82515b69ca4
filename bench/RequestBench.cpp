// Requests per second through the whole server road over loopback: connect, send one request,
// end the sending side, read the answer to the end of the stream, close. Both servers of the run
// are the same ClassifyServer with the same thread factory and limits; they differ only in the
// StringClassifierFactory behind the connection. The baseline answers the classify requests with a
// fixed document (the one the real server gives) without looking at them, so the ratio of the two
// rates is the cost of request execution. Classify requests carry texts of 2 KiB or 256 bytes; each
// train request trains one 256-byte text and so commits (rewrites the classifier file) once. 1, 8
// and 32 client threads; times are wall-clock.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DiscardingLog.h"
#include "FixedDocumentServer.h"
#include "load/LoopbackClient.h"
#include "testing/InProcessServer.h"
#include "testing/Requests.h"

namespace {

using namespace norvale::quillmark;

constexpr std::uint32_t MaxClients = 64;
constexpr std::uint32_t Backlog = 128;

void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

// Generated texts: words of 3 to 9 letters from a 5,000-word vocabulary, a fifth of them drawn
// from a part of the vocabulary that belongs to the text's class.
class Corpus {
public:
    Corpus() : _random(40) {
        std::uniform_int_distribution<int> length(3, 9);
        std::uniform_int_distribution<int> letter('a', 'z');
        for (int i = 0; i < 5000; ++i) {
            std::string word;
            for (int n = length(_random); n > 0; --n) word += static_cast<char>(letter(_random));
            _words.push_back(word);
        }
    }

    // About `bytes` bytes of class `cls` (0 or 1).
    std::string text(int cls, std::size_t bytes) {
        std::uniform_int_distribution<std::size_t> any(0, _words.size() - 1);
        std::uniform_int_distribution<std::size_t> own(0, _words.size() / 10 - 1);
        std::uniform_int_distribution<int> fifth(0, 4);
        std::string text;
        while (text.size() < bytes) {
            const std::size_t index =
                fifth(_random) == 0 ? cls * _words.size() / 10 + own(_random) : any(_random);
            text += _words[index];
            text += ' ';
        }
        return text;
    }

private:
    std::mt19937 _random;
    std::vector<std::string> _words;
};

std::string temporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm_bench_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp");
    std::filesystem::create_directories(pattern + "/classifiers");
    std::filesystem::create_directories(pattern + "/locks");
    return pattern;
}

std::string ask(std::uint16_t port, const std::string& request);

// Trains the engine directly (one compaction at the end rather than one per train call of a
// request) and stores its data where the server looks for classifier "bench".
void writeTrainedClassifier(Corpus& corpus, const std::string& path) {
    norvale::classifier::ClassifierFactoryImpl factory(nullptr);
    const std::unique_ptr<norvale::classifier::Classifier> engine = factory.create();
    engine->addClass("spam");
    engine->addClass("ham");
    for (int i = 0; i < 400; ++i) {
        engine->train(i % 2 == 0 ? "spam" : "ham", corpus.text(i % 2, 2048));
    }
    engine->compact();
    std::ofstream(path, std::ios::binary) << engine->getTrainingData();
}

// The real server with a trained classifier "bench" (2 classes, 400 texts of 2 KiB, written as
// its file before the server first reads it) and an empty one "trained" for the train requests;
// the fixed-document server answers with the very document the real server gives to a classify
// request.
struct Servers {
    Servers()
        : folder(temporaryFolder()),
          real(folder + "/classifiers", folder + "/locks", &log, {MaxClients}) {
        Corpus corpus;
        writeTrainedClassifier(corpus, folder + "/classifiers/bench.dat");
        expect(ask(real.port(), testing::createRequest("trained", {"spam", "ham"})));
        for (int i = 0; i < 64; ++i) {
            classifyRequests.push_back(testing::classifyRequest("bench", corpus.text(i % 2, 2048)));
            shortClassifyRequests.push_back(
                testing::classifyRequest("bench", corpus.text(i % 2, 256)));
        }
        for (int i = 0; i < 4096; ++i) trainTexts.push_back(corpus.text(i % 2, 256));
        fixed = std::make_unique<bench::FixedDocumentServer>(
            expect(ask(real.port(), classifyRequests[0])), MaxClients, Backlog);
    }
    ~Servers() {
        fixed.reset();
        real.stop();
        std::filesystem::remove_all(folder);
    }

    static std::string expect(const std::string& answer) {
        if (testing::statusOf(answer) != 2000) {
            std::fprintf(stderr, "unexpected answer: %s\n", answer.c_str());
            std::exit(1);
        }
        return answer;
    }

    bench::DiscardingLog log;
    std::string folder;
    testing::InProcessServer real;
    std::vector<std::string> classifyRequests;       // texts of 2 KiB
    std::vector<std::string> shortClassifyRequests;  // texts of 256 bytes
    std::vector<std::string> trainTexts;
    std::atomic<std::size_t> nextTrainText{0};
    std::unique_ptr<bench::FixedDocumentServer> fixed;
};

Servers* servers = nullptr;

std::string ask(std::uint16_t port, const std::string& request) {
    return bench::load::LoopbackClient(port).exchange(request);
}

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Besides the rate, the CPU time of the whole process (clients and server) per request, which
// other work on the machine disturbs less than the rate.
template <class Exchange>
void measure(benchmark::State& state, Exchange exchange) {
    const double cpuBefore = processCpuSeconds();
    std::size_t i = static_cast<std::size_t>(state.thread_index());
    for (auto _ : state) exchange(i++);
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        const double total = static_cast<double>(state.iterations()) * state.threads();
        state.counters["cpu_us_per_req"] = (processCpuSeconds() - cpuBefore) * 1e6 / total;
    }
}

// The same classify requests to both servers: only the answer differs in how it is made.
void classify(benchmark::State& state, std::uint16_t port,
              const std::vector<std::string>& requests) {
    measure(state,
            [&](std::size_t i) { Servers::expect(ask(port, requests[i % requests.size()])); });
}

void BM_FixedDocument(benchmark::State& state) {
    classify(state, servers->fixed->port(), servers->classifyRequests);
}

void BM_Classify(benchmark::State& state) {
    classify(state, servers->real.port(), servers->classifyRequests);
}

void BM_ClassifyShortText(benchmark::State& state) {
    classify(state, servers->real.port(), servers->shortClassifyRequests);
}

// Every request trains one 256-byte text, a transaction of its own that rewrites the file.
void BM_Train(benchmark::State& state) {
    measure(state, [](std::size_t) {
        const std::size_t n = servers->nextTrainText++;
        const std::string& text = servers->trainTexts[n % servers->trainTexts.size()];
        const char* className = n % 2 == 0 ? "spam" : "ham";
        Servers::expect(
            ask(servers->real.port(), testing::trainRequest("trained", className, {text})));
    });
}

// Iterations per client thread are capped so that a run stays within the local ports and a few
// minutes; the benchmarks alternate at each client count.
#define QM_REQUEST_BENCHMARKS(threads, iterations)                                            \
    BENCHMARK(BM_FixedDocument)->UseRealTime()->Iterations(iterations)->Threads(threads);     \
    BENCHMARK(BM_Classify)->UseRealTime()->Iterations(iterations)->Threads(threads);          \
    BENCHMARK(BM_ClassifyShortText)->UseRealTime()->Iterations(iterations)->Threads(threads); \
    BENCHMARK(BM_Train)->UseRealTime()->Iterations(iterations / 4)->Threads(threads)

QM_REQUEST_BENCHMARKS(1, 800);
QM_REQUEST_BENCHMARKS(8, 100);
QM_REQUEST_BENCHMARKS(32, 24);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    {
        Servers running;
        servers = &running;
        benchmark::RunSpecifiedBenchmarks();
        servers = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
