#!/usr/bin/env python3
"""scikit-learn's MultinomialNB and ComplementNB on the corpus splits that CorpusBench uses.

  sklearn_compare.py --corpus FOLDER --json OUT.json

For each task folder (language, topic) and each of two tokenisations, both models are fitted on
train.tsv and asked for predict_proba on test.tsv, the class of the largest probability taken as
the answer, in two ways:
  batched         vectorise the whole test split at once and predict it in one call (median of
                  --batch-repeats runs); the accuracy is taken from these answers
  one at a time   vectorise one text and predict it, text after text, over the first
                  --single-texts texts of the split (its order is a hash order, so they are a
                  fair sample); their answers must equal the batched ones
Both times include vectorisation. CPU time of the process and wall-clock time are reported.

Tokenisations, on the texts' bytes (decoded as Latin-1, so one character is one byte, as in the
engine, whatever the UTF-8 content):
  engine  exactly the features of the engine's extractor version 5: ASCII letters lower-cased,
          tokens split at space . ! ( ) / TAB LF CR and cut to 30 bytes, each token, its pair
          with a previous token of 1 to 6 bytes (5 to 8 bytes, the next token cut to fit) and its
          6-byte prefix when longer than 6 bytes
  words   the same tokens alone, without the pairs and prefixes
"""

import argparse
import json
import os
import re
import sys
import time

import numpy
import sklearn
from sklearn.feature_extraction.text import CountVectorizer
from sklearn.naive_bayes import ComplementNB, MultinomialNB

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_corpus  # noqa: E402  (the split reader)

MAX_TOKEN_SIZE = 30
PAIR_LIMIT = 8
MIN_PAIR_SIZE = 5
PREFIX_SIZE = 6
_ASCII_LOWER = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")
_TOKEN = re.compile(r"[^ .!\n\r\t()/]+")


def word_tokens(text):
    return [token[:MAX_TOKEN_SIZE] for token in _TOKEN.findall(text.translate(_ASCII_LOWER))]


def engine_features(text):
    tokens = word_tokens(text)
    features = list(tokens)
    previous = ""
    for token in tokens:
        head = len(previous) + 1
        if previous and head < PAIR_LIMIT:
            tail = min(len(token), PAIR_LIMIT - head)
            if head + tail >= MIN_PAIR_SIZE:
                features.append(previous + " " + token[:tail])
        if len(token) > PREFIX_SIZE:
            features.append(token[:PREFIX_SIZE])
        previous = token
    return features


ANALYZERS = {"engine": engine_features, "words": word_tokens}
MODELS = {"MultinomialNB": MultinomialNB, "ComplementNB": ComplementNB}


def check_analyzer():
    """The engine's own example text must give the engine's features."""
    expected = {"hello", "world,", "hello wo", "again", "world, a"}
    found = engine_features("Hello world, again!")
    if sorted(found) != sorted(expected):
        raise SystemExit("engine_features does not match the extractor: %r" % found)


def load(folder, part):
    pairs = make_corpus.read_split(os.path.join(folder, part + ".tsv"))
    return [label for label, _ in pairs], [text.decode("latin-1") for _, text in pairs]


def timed(function):
    """(result, cpu seconds, wall seconds) of function()."""
    cpu, wall = time.process_time(), time.perf_counter()
    result = function()
    return result, time.process_time() - cpu, time.perf_counter() - wall


def one_at_a_time(vectorizer, model, texts):
    answers = []
    for text in texts:
        probabilities = model.predict_proba(vectorizer.transform([text]))
        answers.append(int(numpy.argmax(probabilities[0])))
    return answers


def batched(vectorizer, model, texts):
    probabilities = model.predict_proba(vectorizer.transform(texts))
    return [int(i) for i in numpy.argmax(probabilities, axis=1)]


def compare(folder, analyzer_name, model_name, batch_repeats, single_texts):
    train_labels, train_texts = load(folder, "train")
    test_labels, test_texts = load(folder, "test")
    vectorizer = CountVectorizer(analyzer=ANALYZERS[analyzer_name])
    model = MODELS[model_name]()
    (_, fit_cpu, _) = timed(lambda: model.fit(vectorizer.fit_transform(train_texts), train_labels))

    sample = test_texts[:single_texts]
    single, single_cpu, single_wall = timed(lambda: one_at_a_time(vectorizer, model, sample))
    batch_runs = [timed(lambda: batched(vectorizer, model, test_texts))
                  for _ in range(batch_repeats)]
    batch_cpu = sorted(run[1] for run in batch_runs)[len(batch_runs) // 2]
    batch_wall = sorted(run[2] for run in batch_runs)[len(batch_runs) // 2]
    answers = batch_runs[0][0]
    if any(run[0] != answers for run in batch_runs) or answers[:len(sample)] != single:
        raise SystemExit("%s/%s: batched and one-at-a-time answers differ" % (model_name, folder))

    classes = list(model.classes_)
    right = sum(1 for answer, label in zip(answers, test_labels) if classes[answer] == label)
    count = len(test_texts)
    distinct_features = sum(len(set(ANALYZERS[analyzer_name](text))) for text in test_texts)
    return {
        "model": model_name,
        "tokens": analyzer_name,
        "classes": len(classes),
        "train_texts": len(train_texts),
        "test_texts": count,
        "test_features": distinct_features,
        "vocabulary": len(vectorizer.vocabulary_),
        "accuracy": 100.0 * right / count,
        "fit_cpu_s": fit_cpu,
        "single_texts": len(sample),
        "single_cpu_us": 1e6 * single_cpu / len(sample),
        "single_wall_us": 1e6 * single_wall / len(sample),
        "batch_cpu_us": 1e6 * batch_cpu / count,
        "batch_wall_us": 1e6 * batch_wall / count,
    }


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", required=True, help="folder written by make_corpus.py")
    parser.add_argument("--json", required=True, help="file that receives the results")
    parser.add_argument("--tasks", default="language,topic")
    parser.add_argument("--batch-repeats", type=int, default=5)
    parser.add_argument("--single-texts", type=int, default=1000)
    args = parser.parse_args(argv)
    check_analyzer()

    results = {"sklearn": sklearn.__version__, "tasks": {}}
    for task in args.tasks.split(","):
        folder = os.path.join(args.corpus, task)
        rows = []
        for analyzer_name in ANALYZERS:
            for model_name in MODELS:
                row = compare(folder, analyzer_name, model_name, args.batch_repeats,
                              args.single_texts)
                print("%-8s %-6s %-13s accuracy %6.2f%%  one at a time %7.1f us/text  "
                      "batched %6.2f us/text (CPU)" % (
                          task, analyzer_name, model_name, row["accuracy"],
                          row["single_cpu_us"], row["batch_cpu_us"]), flush=True)
                rows.append(row)
        results["tasks"][task] = rows
    with open(args.json, "w", encoding="utf-8") as file:
        json.dump(results, file, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
