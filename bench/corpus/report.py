#!/usr/bin/env python3
"""Prints the accuracy and speed tables of one run of bench/corpus/run.sh.

  report.py ENGINE.json SKLEARN.json

ENGINE.json is CorpusBench's --benchmark_out (JSON), SKLEARN.json is sklearn_compare.py's
--json. Times are CPU time per text; for the engine the median over Google Benchmark's
repetitions when there are several.
"""

import json
import statistics
import sys

# The in-process targets: one-at-a-time classification at least this many times the per-text
# throughput of scikit-learn's batched predict_proba, and accuracy within this many points.
SPEED_TARGET = 2.0
ACCURACY_MARGIN = 0.5


def engine_figures(path):
    """{task: {"classify": us, "extract": us, "lookups": us, "hashedLookups": us, "train": ms,
    counters...}}."""
    with open(path, encoding="utf-8") as file:
        benchmarks = json.load(file)["benchmarks"]
    times = {}
    figures = {}
    for entry in benchmarks:
        if entry.get("run_type") == "aggregate":
            continue
        kind, task = entry["run_name"].split("/")[:2]
        scale = {"us": 1.0, "ms": 1e3, "ns": 1e-3}[entry["time_unit"]]
        times.setdefault((task, kind), []).append(entry["cpu_time"] * scale)
        if kind == "classify":
            figures.setdefault(task, {}).update(
                {key: entry[key] for key in
                 ("accuracy", "classes", "train_texts", "test_texts", "test_features")})
        if kind == "train":
            figures.setdefault(task, {})["train_texts_per_s"] = entry["items_per_second"]
    for (task, kind), values in times.items():
        figures.setdefault(task, {})[kind] = statistics.median(values)
    return figures


def print_task(task, engine, rows):
    print("### %s: %d classes, %d training texts, %d test texts\n" % (
        task, engine["classes"], engine["train_texts"], engine["test_texts"]))
    same_tokens = [row for row in rows if row["tokens"] == "engine"]
    features_match = all(row["test_features"] == engine["test_features"] for row in same_tokens)
    print("| classifier | tokens | accuracy (%) | one at a time (µs/text) | batched (µs/text) |"
          " engine one at a time vs batched |")
    print("|---|---|---|---|---|---|")
    print("| ClassifierImpl, in process | engine | %.2f | %.2f | — | 1.00 |" % (
        engine["accuracy"], engine["classify"]))
    for row in rows:
        print("| scikit-learn %s | %s | %.2f | %.1f | %.2f | %.2f |" % (
            row["model"], row["tokens"], row["accuracy"], row["single_cpu_us"],
            row["batch_cpu_us"], row["batch_cpu_us"] / engine["classify"]))
    print()
    print("scikit-learn one at a time over the first %d test texts; batched and accuracy over all"
          " %d." % (rows[0]["single_texts"], rows[0]["test_texts"]))
    if "classifyFirstPass" in engine:
        print("The first pass over the test split after a change (no logarithm stored yet):"
              " %.2f µs/text." % (engine["classifyFirstPass"] / engine["test_texts"]))
    # classify reads stored logarithms through batched probes, so the one-by-one lookups are
    # no longer a part of it; they are shown beside it.
    print("Engine parts (µs/text): feature extraction %.2f; one getParameters per feature %.2f,"
          " the same lookups through a hash index %.2f." % (
              engine["extract"], engine["lookups"], engine["hashedLookups"]))
    print("Distinct features of the test texts: engine %d, scikit-learn's 'engine' tokens %s"
          " (%s)." % (engine["test_features"],
                      ", ".join(str(row["test_features"]) for row in same_tokens[:1]),
                      "same" if features_match else "DIFFERENT"))
    fastest = min(rows, key=lambda row: row["batch_cpu_us"])
    ratio = fastest["batch_cpu_us"] / engine["classify"]
    print("Speed: engine one at a time %.2f µs/text against the fastest batched predict_proba"
          " (%s, %s tokens) %.2f µs/text: %.2fx its throughput, target %.1fx: %s." % (
              engine["classify"], fastest["model"], fastest["tokens"], fastest["batch_cpu_us"],
              ratio, SPEED_TARGET, "met" if ratio >= SPEED_TARGET else
              "missed (the engine needs %.2f µs/text, %.1fx faster than now)" % (
                  fastest["batch_cpu_us"] / SPEED_TARGET,
                  SPEED_TARGET / ratio)))
    best = max(same_tokens, key=lambda row: row["accuracy"])
    gap = best["accuracy"] - engine["accuracy"]
    print("Accuracy: engine %.2f%% against the better model on the same tokens (%s) %.2f%%:"
          " %+.2f points, target within %.1f: %s.\n" % (
              engine["accuracy"], best["model"], best["accuracy"], -gap, ACCURACY_MARGIN,
              "met" if gap <= ACCURACY_MARGIN else "missed by %.2f points" % (
                  gap - ACCURACY_MARGIN)))


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    engine = engine_figures(argv[0])
    with open(argv[1], encoding="utf-8") as file:
        sklearn = json.load(file)
    print("CPU time per text; scikit-learn %s, vectorisation included.\n" % sklearn["sklearn"])
    for task, rows in sklearn["tasks"].items():
        if task in engine:
            print_task(task, engine[task], rows)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
