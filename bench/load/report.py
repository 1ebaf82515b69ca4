#!/usr/bin/env python3
"""Prints the tables of one run of bench/load/run.sh.

  report.py LOAD.json [SKLEARN.json]

LOAD.json is LoadBench's --benchmark_out (JSON), SKLEARN.json is
bench/corpus/sklearn_compare.py's --json. With repetitions, each figure is the median over them.
"""

import json
import statistics
import sys

# classify requests at 32 clients against the fixed-document rate (LoadBench's limit_mb
# counter holds the memory target, 2 x .dat bytes + 50 MB).
RATE_TARGET = 0.40


def load_figures(path):
    """{(kind, clients): {counter: median}} of LoadBench's runs; clients is 0 for the
    single-run entries (accuracy/<task>, memory), whose kind is their whole name."""
    with open(path, encoding="utf-8") as file:
        benchmarks = json.load(file)["benchmarks"]
    values = {}
    for entry in benchmarks:
        if entry.get("run_type") == "aggregate":
            continue
        name = entry["run_name"].split("/iterations:")[0]
        clients = entry.get("threads", 1) if "threads:" in entry["run_name"] else 0
        for key, value in entry.items():
            if isinstance(value, (int, float)):
                values.setdefault((name, clients), {}).setdefault(key, []).append(value)
    return {key: {counter: statistics.median(v) for counter, v in counters.items()}
            for key, counters in values.items()}


def load_table(figures):
    print("| clients | fixed document req/s | classify req/s | ratio (rate) | ratio (CPU) "
          "| classify p50 / p99 / max (ms) | server CPU µs per classify |")
    print("|---|---|---|---|---|---|---|")
    for clients in sorted({c for (_, c) in figures if c}):
        fixed = figures.get(("fixed", clients), {})
        classify = figures.get(("classify", clients), {})
        print("| %d | %.0f | %.0f | %.2f | %.2f | %.2f / %.2f / %.2f | %.0f |" % (
            clients, fixed.get("req_per_s", 0), classify.get("req_per_s", 0),
            classify.get("ratio_to_fixed", 0), classify.get("cpu_ratio_to_fixed", 0),
            classify.get("classify_p50_us", 0) / 1e3, classify.get("classify_p99_us", 0) / 1e3,
            classify.get("classify_max_us", 0) / 1e3, classify.get("server_cpu_us_per_req", 0)))
    print()
    kinds = ("classify", "keywords", "info", "train")
    print("| mix, clients | all req/s | " +
          " | ".join("%s req/s, p50 / p99 / max (ms)" % kind for kind in kinds) + " |")
    print("|---|---|" + "---|" * len(kinds))
    for clients in sorted({c for (_, c) in figures if c}):
        mix = figures.get(("mix", clients), {})
        cells = ["%.0f, %.2f / %.2f / %.2f" % (
            mix.get(kind + "_per_s", 0), mix.get(kind + "_p50_us", 0) / 1e3,
            mix.get(kind + "_p99_us", 0) / 1e3, mix.get(kind + "_max_us", 0) / 1e3)
            for kind in kinds]
        print("| %d | %.0f | %s |" % (clients, mix.get("req_per_s", 0), " | ".join(cells)))
    print()
    at32 = figures.get(("classify", 32), {})
    if at32:
        ratio = at32.get("ratio_to_fixed", 0)
        print("Target: classify at 32 clients >= %.0f%% of the fixed-document rate: %.0f%% (%s)."
              % (100 * RATE_TARGET, 100 * ratio, "met" if ratio >= RATE_TARGET else "missed"))
        print()


def accuracy_table(figures, sklearn):
    models = []
    if sklearn:
        models = [(row["model"], row["tokens"]) for row in next(iter(sklearn["tasks"].values()))]
    print("| task | through the server (%) | in process (%) | differing answers | " +
          " | ".join("%s, %s tokens (%%)" % model for model in models) + " |")
    print("|---|---|---|---|" + "---|" * len(models))
    for (name, _), counters in sorted(figures.items()):
        if not name.startswith("accuracy/"):
            continue
        task = name.split("/")[1]
        rows = {(r["model"], r["tokens"]): r for r in (sklearn or {}).get("tasks", {}).get(task, [])}
        cells = ["%.2f" % rows[m]["accuracy"] if m in rows else "" for m in models]
        print("| %s | %.2f | %.2f | %d | %s |" % (
            task, counters["accuracy"], counters["in_process_accuracy"],
            counters["differing_answers"], " | ".join(cells)))
    print()
    print("| task | texts trained by train requests | requests | wall s | server CPU s | "
          "accuracy through the server (%) | in process, same texts (%) | differing answers |")
    print("|---|---|---|---|---|---|---|---|")
    for (name, _), c in sorted(figures.items()):
        if name.startswith("accuracy/"):
            print("| %s | %d of %d | %d | %.1f | %.1f | %.2f | %.2f | %d |" % (
                name.split("/")[1], c["trained_texts"], c["train_texts"], c["train_requests"],
                c["train_s"], c["train_server_cpu_s"], c["trained_accuracy"],
                c["trained_in_process_accuracy"], c["trained_differing_answers"]))
    print()
    print("| task | held-out classify requests/s, 1 client | server CPU µs per request |")
    print("|---|---|---|")
    for (name, _), c in sorted(figures.items()):
        if name.startswith("accuracy/"):
            print("| %s | %.0f | %.0f |" % (
                name.split("/")[1], c["heldout_req_per_s"], c["heldout_server_cpu_us"]))
    print()


def memory_table(figures):
    memory = figures.get(("memory", 0))
    if not memory:
        return
    limit = memory["limit_mb"]
    print("| server RSS idle (MB) | RSS with the classifiers loaded (MB) | .dat bytes (MB) | "
          "RSS / .dat | limit 2 x .dat + 50 MB | target |")
    print("|---|---|---|---|---|---|")
    print("| %.1f | %.1f | %.1f | %.2f | %.1f | %s |" % (
        memory["idle_rss_mb"], memory["rss_mb"], memory["dat_mb"], memory["rss_per_dat"], limit,
        "met" if memory["rss_mb"] <= limit else "missed by %.1f MB" % (memory["rss_mb"] - limit)))
    print()


def single_request(figures, sklearn):
    one = figures.get(("classify", 1))
    if not one or not sklearn:
        return
    print("| one classify request, 1 client | wall p50 (µs) | CPU µs (server + client) |")
    print("|---|---|---|")
    print("| through the server | %.0f | %.0f |" % (
        one["classify_p50_us"], one["server_cpu_us_per_req"] + one["client_cpu_us_per_req"]))
    for task, rows in sklearn["tasks"].items():
        for row in rows:
            print("| scikit-learn %s, %s tokens, %s, one text in process | %.0f | %.0f |" % (
                row["model"], row["tokens"], task, row["single_wall_us"], row["single_cpu_us"]))
    print()


def main(argv):
    figures = load_figures(argv[0])
    sklearn = None
    if len(argv) > 1:
        with open(argv[1], encoding="utf-8") as file:
            sklearn = json.load(file)
    load_table(figures)
    accuracy_table(figures, sklearn)
    memory_table(figures)
    single_request(figures, sklearn)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
