// The whole product under load, end to end: the staged quillmarkserver runs as a child process
// (its own folder, config.xml on a free loopback port, classifier root in a temporary folder)
// and clients talk to it as any client does, one fresh connection per request that sends the
// request, shuts down its sending side and reads the answer to the end.
//
//   LoadBench --corpus=FOLDER [--requests=480] [--train-batch=1000] [--train-limit=0]
//             [--stage=FOLDER] [Google Benchmark flags]
//
// Before the timed runs, for each task folder of the corpus (bench/corpus/make_corpus.py):
//   accuracy/<task>  the train split trained in process (CorpusClassifier) is stored as the
//                    classifier's file; every held-out text is classified through the server,
//                    one request at a time, and must get the in-process answer. Then the first
//                    --train-limit texts of the split (0: all) go to the server in train
//                    requests of --train-batch texts into a second classifier, which must also
//                    answer every held-out text as the engine trained in process with the same
//                    texts does
//   memory           the server is restarted on the same root and each stored classifier
//                    loaded with one getInformation request; its VmRSS against the .dat bytes
// Then, with 1, 8 and 32 client threads, about --requests requests each:
//   fixed    the held-out classify requests against a fixed-document server in this process
//            (the connection road of the product, answering every request with the document the
//            real server gives, unparsed): what the transport alone allows
//   classify the same requests against the real server; ratio_to_fixed compares the rates,
//            cpu_ratio_to_fixed the CPU time per request (server and clients)
//   mix      classify, classifyKeywords, getInformation and train requests (12:4:2:2), each
//            train request one text into a classifier of its own
// Latencies are wall-clock per request, p50/p99/max by nearest rank, per kind of request.
// Exits with 1 when a request is not answered with status 2000 or an answer through the server
// differs from the in-process one.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FixedDocumentServer.h"
#include "corpus/CorpusClassifier.h"
#include "corpus/CorpusFile.h"
#include "load/CorpusRequests.h"
#include "load/LatencySummary.h"
#include "load/LoopbackClient.h"
#include "load/ServerProcess.h"
#include "util/Base64EncoderImpl.h"

namespace {

namespace fs = std::filesystem;
using bench::corpus::LabelledText;
using bench::load::LatencySummary;
using bench::load::LoopbackClient;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t MaxClients = 64;
constexpr std::uint32_t Backlog = 128;
const char* const Tasks[] = {"language", "topic"};
const int ClientCounts[] = {1, 8, 32};
const char* const MixClassifier = "loadtrain";
const char* const TrainedSuffix = "trained";

struct Options {
    std::string corpus;
    std::string stage = QM_STAGE_DIR;
    std::size_t requests = 480;
    std::size_t trainBatch = 1000;
    std::size_t trainLimit = SIZE_MAX;
};

// What a failure must not leave behind: the running server and its temporary folder.
std::atomic<bench::load::ServerProcess*> liveServer{nullptr};
fs::path liveFolder;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "LoadBench: %s\n", message.c_str());
    if (bench::load::ServerProcess* server = liveServer.exchange(nullptr)) {
        server->stop();
        std::error_code ignored;
        fs::remove_all(liveFolder, ignored);
    }
    std::exit(1);
}

const std::string& expectOk(const std::string& answer) {
    if (answer.find("statusCode=\"2000\"") == std::string::npos) {
        fail("unexpected answer: " + answer.substr(0, 2000));
    }
    return answer;
}

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct Comparison {
    std::size_t right = 0;
    std::size_t rightInProcess = 0;
    std::size_t differing = 0;
};

// One task trained and classified through the server and in process.
struct TaskResult {
    std::string name;
    std::vector<LabelledText> train;
    std::vector<LabelledText> test;
    std::vector<std::string> labels;
    std::size_t trainRequests = 0;
    double trainSeconds = 0.0;
    double trainServerCpu = 0.0;
    std::size_t trainedTexts = 0;
    double heldOutSeconds = 0.0;
    double heldOutServerCpu = 0.0;
    Comparison stored;   // the classifier stored from the engine in process
    Comparison trained;  // the classifier trained through train requests
};

struct MemoryResult {
    double idleRss = 0.0;
    double loadedRss = 0.0;
    double datBytes = 0.0;
};

enum Kind { Classify, Keywords, Information, Train, KindCount };
const char* const KindNames[KindCount] = {"classify", "keywords", "info", "train"};
constexpr Kind MixPattern[] = {Classify, Keywords, Classify, Classify, Information,
                               Classify, Keywords, Classify, Classify, Train,
                               Classify, Keywords, Classify, Classify, Information,
                               Classify, Keywords, Classify, Classify, Train};

// Everything the timed runs share: the server, the fixed-document server, the request pools.
class LoadRun {
public:
    explicit LoadRun(const Options& options);
    ~LoadRun();

    std::vector<TaskResult> tasks;
    MemoryResult memory;
    std::unique_ptr<bench::load::ServerProcess> server;
    std::unique_ptr<bench::FixedDocumentServer> fixed;
    std::vector<std::string> classifyRequests;
    std::vector<std::string> keywordRequests;
    std::vector<std::string> informationRequests;
    std::vector<LabelledText> trainTexts;
    std::atomic<std::size_t> nextTrainText{0};
    std::map<int, double> fixedRate;           // requests/s per client count
    std::map<int, double> fixedCpuPerRequest;  // process CPU µs per request, per client count

    const bench::load::CorpusRequests& requests() const { return *_requests; }

private:
    void runTask(TaskResult& task, std::size_t trainBatch, std::size_t trainLimit);
    Comparison compare(const TaskResult& task, const std::string& classifier,
                       const norvale::classifier::ClassifierImpl& engine, double* serverCpu,
                       double* wallSeconds) const;
    void measureMemory();
    void preparePools();

    fs::path _folder;
    util::Base64EncoderImpl _base64;
    std::unique_ptr<bench::load::CorpusRequests> _requests;
};

LoadRun* run = nullptr;

fs::path temporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "qm_load_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp failed");
    return pattern;
}

LoadRun::LoadRun(const Options& options) : _folder(temporaryFolder()) {
    _requests = std::make_unique<bench::load::CorpusRequests>(
        bench::load::targetNamespaceOf(
            readFile(fs::path(options.stage) / "xml/schemas/server/RequestSchema.xsd")),
        &_base64);
    server = std::make_unique<bench::load::ServerProcess>(options.stage, _folder / "server",
                                                          _folder / "classifiers");
    liveFolder = _folder;
    liveServer = server.get();
    server->start();
    for (const char* name : Tasks) {
        const fs::path folder = fs::path(options.corpus) / name;
        if (!fs::exists(folder / "train.tsv")) continue;
        TaskResult& task = tasks.emplace_back();
        task.name = name;
        task.train = bench::corpus::readCorpusFile((folder / "train.tsv").string());
        task.test = bench::corpus::readCorpusFile((folder / "test.tsv").string());
        task.labels = bench::corpus::corpusLabels(task.train);
        runTask(task, options.trainBatch, options.trainLimit);
    }
    if (tasks.empty()) fail("no task folder with train.tsv below " + options.corpus);
    measureMemory();
    preparePools();
    fixed = std::make_unique<bench::FixedDocumentServer>(
        expectOk(LoopbackClient(server->port()).exchange(classifyRequests.front())), MaxClients,
        Backlog);
}

LoadRun::~LoadRun() {
    liveServer = nullptr;
    fixed.reset();
    server->stop();
    std::error_code ignored;
    fs::remove_all(_folder, ignored);
}

// The held-out texts classified through the server by classifier, one request at a time, and
// compared with the in-process engine's answers: right answers, differing answers.
Comparison LoadRun::compare(const TaskResult& task, const std::string& classifier,
                            const norvale::classifier::ClassifierImpl& engine, double* serverCpu,
                            double* wallSeconds) const {
    const LoopbackClient client(server->port());
    Comparison comparison;
    const double cpu = server->cpuSeconds();
    const Clock::time_point start = Clock::now();
    for (const LabelledText& text : task.test) {
        const std::string answer = bench::load::bestClassOf(
            expectOk(client.exchange(_requests->classify(classifier, text.text))));
        norvale::classifier::Classification result;
        engine.classify(text.text, result);
        const std::string& inProcess = bench::corpus::bestClass(result);
        comparison.right += answer == text.label ? 1 : 0;
        comparison.rightInProcess += inProcess == text.label ? 1 : 0;
        comparison.differing += answer == inProcess ? 0 : 1;
    }
    if (wallSeconds != nullptr) *wallSeconds = seconds(Clock::now() - start);
    if (serverCpu != nullptr) *serverCpu = server->cpuSeconds() - cpu;
    return comparison;
}

// The whole train split trained in process and stored as the classifier's file, which the
// server loads on first use; then the first trainLimit texts trained through the server in
// train requests of trainBatch texts into a second classifier. Both are checked against the
// engine in process on every held-out text.
void LoadRun::runTask(TaskResult& task, std::size_t trainBatch, std::size_t trainLimit) {
    const auto engine = bench::corpus::trainCorpusClassifier(task.labels, task.train);
    std::ofstream(_folder / "classifiers" / (task.name + ".dat"), std::ios::binary)
        << engine->getTrainingData();
    task.stored = compare(task, task.name, *engine, &task.heldOutServerCpu, &task.heldOutSeconds);

    const std::string trained = task.name + TrainedSuffix;
    const LoopbackClient client(server->port());
    expectOk(client.exchange(_requests->create(trained, task.labels)));
    const std::span<const LabelledText> texts =
        std::span<const LabelledText>(task.train).first(std::min(trainLimit, task.train.size()));
    const double cpu = server->cpuSeconds();
    const Clock::time_point start = Clock::now();
    for (std::size_t at = 0; at < texts.size(); at += trainBatch) {
        expectOk(client.exchange(
            _requests->train(trained, texts.subspan(at, std::min(trainBatch, texts.size() - at)))));
        ++task.trainRequests;
    }
    task.trainSeconds = seconds(Clock::now() - start);
    task.trainServerCpu = server->cpuSeconds() - cpu;
    task.trainedTexts = texts.size();
    if (texts.size() == task.train.size()) {
        task.trained = compare(task, trained, *engine, nullptr, nullptr);
    } else {
        const auto partial = bench::corpus::trainCorpusClassifier(
            task.labels, std::vector<LabelledText>(texts.begin(), texts.end()));
        task.trained = compare(task, trained, *partial, nullptr, nullptr);
    }
}

// A fresh server process on the same root, each trained classifier loaded by one request.
void LoadRun::measureMemory() {
    server->stop();
    server->start();
    memory.idleRss = static_cast<double>(server->residentBytes());
    const LoopbackClient client(server->port());
    for (const TaskResult& task : tasks) {
        expectOk(client.exchange(_requests->getInformation(task.name)));
        memory.datBytes +=
            static_cast<double>(fs::file_size(_folder / "classifiers" / (task.name + ".dat")));
    }
    memory.loadedRss = static_cast<double>(server->residentBytes());
}

void LoadRun::preparePools() {
    const std::size_t perTask = 256;
    for (std::size_t i = 0; i < perTask; ++i) {
        for (const TaskResult& task : tasks) {
            if (task.test.empty()) continue;
            const std::string& text = task.test[i % task.test.size()].text;
            classifyRequests.push_back(_requests->classify(task.name, text));
            if (i < perTask / 4)
                keywordRequests.push_back(_requests->classifyKeywords(task.name, text));
        }
    }
    if (classifyRequests.empty()) fail("no held-out text to classify");
    for (const TaskResult& task : tasks) {
        informationRequests.push_back(_requests->getInformation(task.name));
    }
    trainTexts = tasks.front().train;
    expectOk(LoopbackClient(server->port())
                 .exchange(_requests->create(MixClassifier, tasks.front().labels)));
}

// Per client thread: the latencies of each kind and the span of its requests. Written only by
// its own thread inside the timed loop and read by thread 0 after it, past the benchmark
// library's closing barrier.
struct ThreadRecord {
    std::array<LatencySummary, KindCount> latency;
    Clock::time_point first;
    Clock::time_point last;
    bool started = false;
};
std::vector<ThreadRecord> records;

// The request of the i-th iteration of a thread: its kind and document.
using Picker = std::pair<Kind, const std::string*> (*)(std::size_t);

std::pair<Kind, const std::string*> pickClassify(std::size_t i) {
    return {Classify, &run->classifyRequests[i % run->classifyRequests.size()]};
}

std::pair<Kind, const std::string*> pickMix(std::size_t i) {
    const Kind kind = MixPattern[i % std::size(MixPattern)];
    switch (kind) {
        case Keywords:
            return {kind, &run->keywordRequests[i % run->keywordRequests.size()]};
        case Information:
            return {kind, &run->informationRequests[i % run->informationRequests.size()]};
        case Train: {
            // Made here, outside the pools: each request trains a text of its own.
            thread_local std::string request;
            const std::size_t n = run->nextTrainText++ % run->trainTexts.size();
            request = run->requests().train(MixClassifier,
                                            std::span<const LabelledText>(&run->trainTexts[n], 1));
            return {kind, &request};
        }
        default:
            return pickClassify(i);
    }
}

struct Totals {
    double requests = 0.0;
    double rate = 0.0;
    double processCpuPerRequest = 0.0;
    double serverCpuPerRequest = 0.0;
};

// Thread 0, after the loop: merges the threads' latencies into counters.
Totals report(benchmark::State& state, double processCpu, double serverCpu) {
    std::array<LatencySummary, KindCount> latency;
    Clock::time_point first = Clock::time_point::max();
    Clock::time_point last = Clock::time_point::min();
    for (const ThreadRecord& record : records) {
        for (int k = 0; k < KindCount; ++k) latency[k].merge(record.latency[k]);
        if (!record.started) continue;
        first = std::min(first, record.first);
        last = std::max(last, record.last);
    }
    Totals totals;
    const double wall = std::max(seconds(last - first), 1e-9);
    for (int k = 0; k < KindCount; ++k) {
        if (latency[k].count() == 0) continue;
        totals.requests += static_cast<double>(latency[k].count());
        const std::string name = KindNames[k];
        state.counters[name + "_per_s"] = static_cast<double>(latency[k].count()) / wall;
        state.counters[name + "_p50_us"] = latency[k].percentile(50);
        state.counters[name + "_p99_us"] = latency[k].percentile(99);
        state.counters[name + "_max_us"] = latency[k].max();
    }
    totals.rate = totals.requests / wall;
    totals.processCpuPerRequest = processCpu * 1e6 / totals.requests;
    totals.serverCpuPerRequest = serverCpu * 1e6 / totals.requests;
    state.counters["req_per_s"] = totals.rate;
    state.counters["client_cpu_us_per_req"] = totals.processCpuPerRequest;
    return totals;
}

// Every iteration is one request to port; thread 0 reports. Returns the totals on thread 0.
Totals load(benchmark::State& state, std::uint16_t port, Picker pick) {
    double processCpu = 0.0;
    double serverCpu = 0.0;
    if (state.thread_index() == 0) {
        records.assign(static_cast<std::size_t>(state.threads()), ThreadRecord{});
        processCpu = processCpuSeconds();
        serverCpu = run->server->cpuSeconds();
    }
    const LoopbackClient client(port);
    std::size_t i = static_cast<std::size_t>(state.thread_index()) * 7919;
    for (auto _ : state) {
        ThreadRecord& mine = records[static_cast<std::size_t>(state.thread_index())];
        const auto [kind, request] = pick(i++);
        const Clock::time_point start = Clock::now();
        std::string answer;
        try {
            answer = client.exchange(*request);
        } catch (const bench::load::LoopbackClientException& e) {
            fail(e.what());
        }
        const Clock::time_point end = Clock::now();
        expectOk(answer);
        mine.latency[kind].add(std::chrono::duration<double, std::micro>(end - start).count());
        if (!mine.started) mine.first = start;
        mine.started = true;
        mine.last = end;
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() != 0) return {};
    return report(state, processCpuSeconds() - processCpu, run->server->cpuSeconds() - serverCpu);
}

void fixedDocument(benchmark::State& state) {
    const Totals totals = load(state, run->fixed->port(), pickClassify);
    if (state.thread_index() != 0) return;
    run->fixedRate[state.threads()] = totals.rate;
    run->fixedCpuPerRequest[state.threads()] = totals.processCpuPerRequest;
}

void addServerCpu(benchmark::State& state, const Totals& totals) {
    state.counters["server_cpu_us_per_req"] = totals.serverCpuPerRequest;
}

void classify(benchmark::State& state) {
    const Totals totals = load(state, run->server->port(), pickClassify);
    if (state.thread_index() != 0) return;
    addServerCpu(state, totals);
    const double fixedRate = run->fixedRate[state.threads()];
    const double fixedCpu = run->fixedCpuPerRequest[state.threads()];
    if (fixedRate > 0) state.counters["ratio_to_fixed"] = totals.rate / fixedRate;
    if (fixedCpu > 0) {
        state.counters["cpu_ratio_to_fixed"] =
            fixedCpu / (totals.processCpuPerRequest + totals.serverCpuPerRequest);
    }
}

void mix(benchmark::State& state) {
    const Totals totals = load(state, run->server->port(), pickMix);
    if (state.thread_index() == 0) addServerCpu(state, totals);
}

void accuracy(benchmark::State& state, const TaskResult* task) {
    for (auto _ : state) {
    }
    state.counters["classes"] = static_cast<double>(task->labels.size());
    state.counters["train_texts"] = static_cast<double>(task->train.size());
    state.counters["test_texts"] = static_cast<double>(task->test.size());
    state.counters["train_requests"] = static_cast<double>(task->trainRequests);
    state.counters["train_s"] = task->trainSeconds;
    state.counters["train_server_cpu_s"] = task->trainServerCpu;
    state.counters["heldout_req_per_s"] =
        static_cast<double>(task->test.size()) / std::max(task->heldOutSeconds, 1e-9);
    state.counters["heldout_server_cpu_us"] =
        task->heldOutServerCpu * 1e6 /
        static_cast<double>(std::max<std::size_t>(task->test.size(), 1));
    const double count = static_cast<double>(std::max<std::size_t>(task->test.size(), 1));
    state.counters["accuracy"] = 100.0 * static_cast<double>(task->stored.right) / count;
    state.counters["in_process_accuracy"] =
        100.0 * static_cast<double>(task->stored.rightInProcess) / count;
    state.counters["differing_answers"] = static_cast<double>(task->stored.differing);
    state.counters["trained_texts"] = static_cast<double>(task->trainedTexts);
    state.counters["trained_accuracy"] = 100.0 * static_cast<double>(task->trained.right) / count;
    state.counters["trained_in_process_accuracy"] =
        100.0 * static_cast<double>(task->trained.rightInProcess) / count;
    state.counters["trained_differing_answers"] = static_cast<double>(task->trained.differing);
}

void memoryUse(benchmark::State& state) {
    for (auto _ : state) {
    }
    const double mb = 1024.0 * 1024.0;
    const MemoryResult& memory = run->memory;
    state.counters["idle_rss_mb"] = memory.idleRss / mb;
    state.counters["rss_mb"] = memory.loadedRss / mb;
    state.counters["dat_mb"] = memory.datBytes / mb;
    state.counters["limit_mb"] = (2.0 * memory.datBytes) / mb + 50.0;
    state.counters["rss_per_dat"] = memory.loadedRss / std::max(memory.datBytes, 1.0);
}

void registerBenchmarks(std::size_t requests) {
    for (const TaskResult& task : run->tasks) {
        benchmark::RegisterBenchmark(("accuracy/" + task.name).c_str(), accuracy, &task)
            ->Iterations(1);
    }
    benchmark::RegisterBenchmark("memory", memoryUse)->Iterations(1);
    for (int clients : ClientCounts) {
        const auto iterations = static_cast<benchmark::IterationCount>(
            std::max<std::size_t>(1, requests / static_cast<std::size_t>(clients)));
        using Function = void (*)(benchmark::State&);
        const std::pair<const char*, Function> runs[] = {
            {"fixed", fixedDocument}, {"classify", classify}, {"mix", mix}};
        for (const auto& [name, function] : runs) {
            benchmark::RegisterBenchmark(name, function)
                ->Threads(clients)
                ->Iterations(iterations)
                ->UseRealTime()
                ->Unit(benchmark::kMicrosecond);
        }
    }
}

// After an exception left the run: the unwinding has stopped the server, its folder may remain.
[[noreturn]] void failAfterUnwinding(const char* message) {
    liveServer = nullptr;
    std::error_code ignored;
    if (!liveFolder.empty()) fs::remove_all(liveFolder, ignored);
    fail(message);
}

// Takes --name=VALUE flags of this program out of the arguments.
Options takeOptions(int& argc, char** argv) {
    Options options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto value = [&](const char* flag) -> const char* {
            const std::size_t length = std::strlen(flag);
            return argument.compare(0, length, flag) == 0 ? argv[i] + length : nullptr;
        };
        if (const char* v = value("--corpus=")) {
            options.corpus = v;
        } else if (const char* v = value("--stage=")) {
            options.stage = v;
        } else if (const char* v = value("--requests=")) {
            options.requests = std::strtoul(v, nullptr, 10);
        } else if (const char* v = value("--train-limit=")) {
            const std::size_t limit = std::strtoul(v, nullptr, 10);
            options.trainLimit = limit == 0 ? SIZE_MAX : limit;
        } else if (const char* v = value("--train-batch=")) {
            options.trainBatch = std::max<std::size_t>(1, std::strtoul(v, nullptr, 10));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = takeOptions(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (options.corpus.empty()) {
        std::fprintf(stderr,
                     "Usage: LoadBench --corpus=FOLDER [--requests=N] [--train-batch=N] "
                     "[--train-limit=N] [--stage=FOLDER] [benchmark flags]\n"
                     "FOLDER comes from bench/corpus/make_corpus.py --out FOLDER.\n");
        return 2;
    }
    int status = 0;
    try {
        LoadRun loadRun(options);
        run = &loadRun;
        registerBenchmarks(options.requests);
        benchmark::RunSpecifiedBenchmarks();
        for (const TaskResult& task : loadRun.tasks) {
            for (const Comparison* comparison : {&task.stored, &task.trained}) {
                if (comparison->differing == 0) continue;
                std::fprintf(stderr,
                             "LoadBench: %zu of %zu %s answers through the server differ from "
                             "the engine's in process (%s classifier)\n",
                             comparison->differing, task.test.size(), task.name.c_str(),
                             comparison == &task.stored ? "stored" : "trained");
                status = 1;
            }
        }
        run = nullptr;
    } catch (const exceptions::Exception& e) {
        failAfterUnwinding(e.what());
    } catch (const std::exception& e) {
        failAfterUnwinding(e.what());
    }
    benchmark::Shutdown();
    return status;
}
