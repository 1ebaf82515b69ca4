#!/usr/bin/env python3
"""Bulk training and classification through a real server, next to the engine in process and
scikit-learn, on one corpus task split, in one run.

  bulk_requests.py --build BUILD_FOLDER --corpus FOLDER --out FOLDER [--task language]

The staged quillmarkserver runs as a child process on a free loopback port; the quillmark client
trains the whole train split into a new classifier (one client run per tenth of the split and
class, requests of at most 1 MB) and then classifies the whole test split twice: the first pass
right after training computes the logarithms of every feature it meets, the second finds them
stored. The server's CPU time (user + system, from /proc/<pid>/task/*/schedstat) is read before
and after each client run. Then single requests of 5,000, 10,000 and 20,000 short texts with one
train call each go to new classifiers (quillmark send), timed by the wall clock and the server's
CPU. The server's resident size (and its peak) is read after the classification passes and,
once it has stopped, on a server started again that classifies the test split twice, next to the
size of the classifier's file. In the same run:
CorpusBench (the engine in process: train/<task>, classifyFirstPass/<task> for a first pass right
after training and classify/<task> for passes over stored logarithms) and scikit-learn's
MultinomialNB (batched fit and predict_proba, with the engine's features). Prints one table and
writes OUT/bulk.json.
"""

import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "corpus"))
import make_corpus  # noqa: E402  (the split reader)

TENTHS = 10
CLIENT_MAX_REQUEST = "1M"
# Texts (and train calls) of the single large requests, each into a new classifier.
LARGE_REQUESTS = (5000, 10000, 20000)
REQUEST_NAMESPACE = "http://quillmark.invalid/1/server/RequestSchema"


def server_cpu_seconds(pid):
    """User plus system CPU time of the process so far: the nanoseconds each thread ran
    (/proc/PID/task/*/schedstat), since the server's threads live as long as it does; the clock
    ticks of /proc/PID/stat (10 ms each) where the kernel keeps no schedstat."""
    try:
        total = 0
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/schedstat" % (pid, task), encoding="ascii") as file:
                total += int(file.read().split()[0])
        return total / 1e9
    except (OSError, ValueError, IndexError):
        pass
    with open("/proc/%d/stat" % pid, encoding="ascii") as file:
        fields = file.read().rsplit(")", 1)[1].split()
    # Fields 14 and 15 of the whole line (utime, stime); the text after ")" starts at field 3.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def write_texts(folder, texts):
    os.makedirs(folder, exist_ok=True)
    for index, text in enumerate(texts):
        with open(os.path.join(folder, "%06d.txt" % index), "wb") as file:
            file.write(text)


class Server:
    """The staged server in a folder of its own: hard link, schemas, config.xml. With restart,
    a server that ran in the folder before starts again on its classifiers."""

    def __init__(self, stage, folder, restart=False):
        executable = os.path.join(folder, "quillmarkserver")
        if not restart:
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(os.path.join(folder, "classifiers"))
            shutil.copytree(os.path.join(stage, "xml"), os.path.join(folder, "xml"))
            try:
                os.link(os.path.join(stage, "quillmarkserver"), executable)
            except OSError:
                shutil.copy2(os.path.join(stage, "quillmarkserver"), executable)
        self.port = free_port()
        with open(os.path.join(folder, "config.xml"), "w", encoding="utf-8") as config:
            config.write(
                '<?xml version="1.0" encoding="UTF-8"?>\n'
                '<quillmark xmlns="http://quillmark.invalid/1/config/ConfigSchema">\n'
                "  <port>%d</port>\n  <maxInput>10485760</maxInput>\n"
                "  <maxClients>8</maxClients>\n  <clientQueueSize>16</clientQueueSize>\n"
                "  <classifierRootPath>%s/</classifierRootPath>\n  <logLevel>error</logLevel>\n"
                "  <logMemory>false</logMemory>\n  <saveRequests>false</saveRequests>\n"
                "</quillmark>\n" % (self.port, os.path.join(folder, "classifiers")))
        self.process = subprocess.Popen(
            [executable, "-config", "config.xml", "-quiet"], cwd=folder,
            stdout=open(os.path.join(folder, "server.out"), "wb"),
            stderr=open(os.path.join(folder, "server.err"), "wb"))
        deadline = time.monotonic() + 60
        while True:
            if self.process.poll() is not None:
                raise SystemExit("the server ended at start-up, see %s" % folder)
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                if time.monotonic() > deadline:
                    raise SystemExit("the server did not listen within a minute")
                time.sleep(0.05)

    def cpu(self):
        return server_cpu_seconds(self.process.pid)

    def memory_mb(self):
        """The server's resident size now and at its peak so far (VmRSS, VmHWM), in MB."""
        with open("/proc/%d/status" % self.process.pid, encoding="ascii") as file:
            fields = dict(line.split(":", 1) for line in file)
        return tuple(int(fields[name].split()[0]) / 1024 for name in ("VmRSS", "VmHWM"))

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=120)


def large_request(words, count, seed):
    """A request document of count texts of ten words and one train call per text, into four
    classes of the classifier large<count>, valid against the request schema."""
    import random
    chooser = random.Random(seed)
    name = "large%d" % count
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<quillmark xmlns="%s" version="1.01">' % REQUEST_NAMESPACE, "<texts>"]
    lines += ['<text id="t%d">%s</text>' % (i, " ".join(chooser.choice(words) for _ in range(10)))
              for i in range(count)]
    lines += ["</texts>", '<writeCalls classifierName="%s">' % name]
    lines += ['<train id="c%d" className="k%d" textId="t%d"/>' % (i, i % 4, i)
              for i in range(count)]
    lines += ["</writeCalls>", "</quillmark>"]
    return name, "\n".join(lines).encode("ascii")


def through_server(build, stage, out, labels, train, test):
    client = os.path.join(stage, "quillmark")
    texts = os.path.join(out, "texts")
    shutil.rmtree(texts, ignore_errors=True)
    bounds = [len(train) * k // TENTHS for k in range(TENTHS + 1)]
    for k in range(TENTHS):
        part = train[bounds[k]:bounds[k + 1]]
        for label in labels:
            write_texts(os.path.join(texts, "train%02d" % k, label),
                        [text for text_label, text in part if text_label == label])
    write_texts(os.path.join(texts, "test"), [text for _, text in test])

    server = Server(stage, os.path.join(out, "server"))
    try:
        def run(*words):
            subprocess.run([client, "--port", str(server.port), "--max-request",
                            CLIENT_MAX_REQUEST] + list(words),
                           check=True, stdout=subprocess.DEVNULL)

        run("create", "bulk")
        run("add-class", "bulk", *labels)
        tenths = []
        for k in range(TENTHS):
            cpu, wall = server.cpu(), time.perf_counter()
            for label in labels:
                run("train", "bulk", label, os.path.join(texts, "train%02d" % k, label))
            tenths.append({"texts": bounds[k + 1] - bounds[k], "server_cpu_s": server.cpu() - cpu,
                           "wall_s": time.perf_counter() - wall})
            print("  trained tenth %d: %5d texts, server CPU %6.3f s" % (
                k + 1, tenths[-1]["texts"], tenths[-1]["server_cpu_s"]), flush=True)
        classify = []
        for when in ("first pass", "second pass"):
            cpu, wall = server.cpu(), time.perf_counter()
            run("--json", "classify", "bulk", os.path.join(texts, "test"))
            classify.append({"texts": len(test), "server_cpu_s": server.cpu() - cpu,
                             "wall_s": time.perf_counter() - wall})
            print("  classified %d texts (%s), server CPU %.3f s" % (
                len(test), when, classify[-1]["server_cpu_s"]), flush=True)
        memory = {"trained": server.memory_mb()}

        words = sorted({word for _, text in train for word in text.split()
                        if word.isalpha() and word.isascii() and len(word) < 12})
        large = []
        for count in LARGE_REQUESTS:
            name, document = large_request([w.decode("ascii") for w in words], count, count)
            run("create", name)
            run("add-class", name, "k0", "k1", "k2", "k3")
            path = os.path.join(texts, name + ".xml")
            with open(path, "wb") as file:
                file.write(document)
            cpu, wall = server.cpu(), time.perf_counter()
            run("send", path)
            large.append({"texts": count, "bytes": len(document),
                          "server_cpu_s": server.cpu() - cpu, "wall_s": time.perf_counter() - wall})
            print("  one request of %d texts and %d train calls (%d bytes): %.3f s, server CPU "
                  "%.3f s" % (count, count, len(document), large[-1]["wall_s"],
                              large[-1]["server_cpu_s"]), flush=True)
    finally:
        server.stop()
    # Stopping checkpointed the classifier, so its file holds everything trained. A server
    # started again on it loads it and classifies the test split twice: its resident size is
    # the served classifier's, without what training left in the allocator.
    memory["stored"] = os.path.getsize(os.path.join(out, "server", "classifiers", "bulk.dat"))
    server = Server(stage, os.path.join(out, "server"), restart=True)
    try:
        memory["idle"] = server.memory_mb()
        for _ in range(2):
            run("classify", "bulk", os.path.join(texts, "test"))
        memory["restarted"] = server.memory_mb()
    finally:
        server.stop()
    return tenths, classify, large, memory


def engine_in_process(build, corpus, out, task):
    # A corpus folder holding only this task, so CorpusBench loads nothing else.
    only = os.path.join(out, "corpus")
    shutil.rmtree(only, ignore_errors=True)
    os.makedirs(only)
    os.symlink(os.path.abspath(os.path.join(corpus, task)), os.path.join(only, task))
    result = os.path.join(out, "engine.json")
    subprocess.run([os.path.join(build, "bench", "CorpusBench"), "--corpus=" + only,
                    "--benchmark_filter=^(train|classify|classifyFirstPass)/%s(/|$)" % task,
                    "--benchmark_out=" + result, "--benchmark_out_format=json"],
                   check=True, stdout=subprocess.DEVNULL)
    with open(result, encoding="utf-8") as file:
        rows = {row["name"].split("/")[0]: row for row in json.load(file)["benchmarks"]}
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    seconds = {name: row["cpu_time"] * scale[row["time_unit"]] for name, row in rows.items()}
    # classifyFirstPass times the whole test split per iteration, classify one text.
    return {"train_cpu_s_per_text": seconds["train"] / rows["train"]["train_texts"],
            "classify_cpu_s_per_text": seconds["classify"],
            "classify_first_cpu_s_per_text": 1 / rows["classifyFirstPass"]["items_per_second"]}


def scikit_learn(corpus, task):
    import sklearn_compare  # noqa: E402  (imports scikit-learn)
    row = sklearn_compare.compare(os.path.join(corpus, task), "engine", "MultinomialNB", 1, 100)
    return {"fit_cpu_s_per_text": row["fit_cpu_s"] / row["train_texts"],
            "predict_cpu_s_per_text": row["batch_cpu_us"] * 1e-6}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--corpus", required=True, help="folder written by make_corpus.py")
    parser.add_argument("--out", required=True)
    parser.add_argument("--task", default="language")
    args = parser.parse_args(argv)
    args.build, args.out = os.path.abspath(args.build), os.path.abspath(args.out)
    stage = os.path.join(args.build, "stage")
    os.makedirs(args.out, exist_ok=True)

    train = make_corpus.read_split(os.path.join(args.corpus, args.task, "train.tsv"))
    test = make_corpus.read_split(os.path.join(args.corpus, args.task, "test.tsv"))
    labels = sorted({label for label, _ in train})
    print("== through the server: %d training texts, %d test texts, classes %s (load %s)" % (
        len(train), len(test), " ".join(labels), os.getloadavg()[0]), flush=True)
    tenths, classify, large, memory = through_server(args.build, stage, args.out, labels, train,
                                                     test)
    print("== engine in process (load %.2f)" % os.getloadavg()[0], flush=True)
    engine = engine_in_process(args.build, args.corpus, args.out, args.task)
    print("== scikit-learn MultinomialNB (load %.2f)" % os.getloadavg()[0], flush=True)
    sklearn = scikit_learn(args.corpus, args.task)

    trained = sum(t["texts"] for t in tenths)
    server_train = sum(t["server_cpu_s"] for t in tenths) / trained
    first = tenths[0]["server_cpu_s"] / tenths[0]["texts"]
    last = tenths[-1]["server_cpu_s"] / tenths[-1]["texts"]
    server_first, server_again = (c["server_cpu_s"] / c["texts"] for c in classify)
    us = 1e6
    print()
    print("%-40s %11s %17s %13s" % ("CPU per text (task %s)" % args.task, "training",
                                     "classifying: first", "again"))
    print("%-40s %8.1f us %14.1f us %10.1f us" % (
        "server, bulk requests of <= 1 MB", server_train * us, server_first * us,
        server_again * us))
    print("%-40s %8.1f us %14.1f us %10.1f us" % (
        "engine in process (CorpusBench)", engine["train_cpu_s_per_text"] * us,
        engine["classify_first_cpu_s_per_text"] * us, engine["classify_cpu_s_per_text"] * us))
    print("%-40s %8.1f us %17s %10.1f us" % (
        "scikit-learn MultinomialNB, batched", sklearn["fit_cpu_s_per_text"] * us, "",
        sklearn["predict_cpu_s_per_text"] * us))
    print()
    print("server / engine: training %.2fx (target <= 3x); classifying (target <= 2x) the first "
          "pass after training %.2fx, again %.2fx" % (
              server_train / engine["train_cpu_s_per_text"],
              server_first / engine["classify_first_cpu_s_per_text"],
              server_again / engine["classify_cpu_s_per_text"]))
    print("server training, last tenth / first tenth per text: %.2fx (target <= 1.3x; "
          "%.1f us vs %.1f us)" % (last / first, last * us, first * us))
    print("engine one at a time / scikit-learn batched throughput: %.2fx" % (
        sklearn["predict_cpu_s_per_text"] / engine["classify_cpu_s_per_text"]))
    stored_mb = memory["stored"] / 2**20
    print("server resident (peak) in MB: trained and classified %.0f (%.0f); restarted: idle %.0f, "
          "after classifying %.0f (%.0f)" % (memory["trained"] + memory["idle"][:1] +
                                             memory["restarted"]))
    print("  the classifier stores %.1f MB; restarted, classifying took %.0f MB beyond idle "
          "(bound: twice the stored + 50 MB = %.0f MB)" % (
              stored_mb, memory["restarted"][0] - memory["idle"][0], 2 * stored_mb + 50))
    for row in large:
        print("one request, %5d texts + %5d train calls (%4.2f MB): wall %.3f s, server CPU %.3f s"
              % (row["texts"], row["texts"], row["bytes"] / 1e6, row["wall_s"],
                 row["server_cpu_s"]))
    print("load average at the end: %.2f" % os.getloadavg()[0])
    with open(os.path.join(args.out, "bulk.json"), "w", encoding="utf-8") as file:
        json.dump({"task": args.task, "tenths": tenths, "classify": classify, "large": large,
                   "engine": engine,
                   "sklearn": sklearn, "memory": memory}, file, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
