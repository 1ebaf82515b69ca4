#!/usr/bin/env python3
"""Builds the real-text corpus of the benchmarks from the installed fortune collections.

Source layout (Debian's fortunes, fortunes-de, fortunes-es and fortunes-it packages):
  SOURCE/<category>        English fortunes, one file per category
  SOURCE/de/<category>     German
  SOURCE/es/<category>     Spanish
  SOURCE/it/<category>     Italian
Each file holds entries separated by lines made of a single "%". Symbolic links (the ".u8"
aliases and the Italian files linked into the top folder), ".dat" index files and ASCII-art
collections are skipped; sub-folders other than the three language folders (such as "off") are
not read.

Two tasks are written, each as two splits:
  OUT/language/{train,test}.tsv   label = en, de, es or it
  OUT/topic/{train,test}.tsv      label = an English category of TOPICS
  OUT/<task>/labels.tsv           label, train count, test count
A split line is  label TAB text LF,  where the text escapes backslash, TAB, LF and CR as
\\\\, \\t, \\n and \\r; every other byte is written as it is (the texts are UTF-8).

The split is decided by each text alone: a text goes to the test split when the first eight
bytes of its SHA-256, read as a big-endian number, are divisible by TEST_EVERY. So the splits are
the same on every run and machine, a text never sits in both, and adding or removing a source
file moves no other text between splits. Texts are compared after stripping surrounding white
space; a text found more than once under one label is kept once, a text found under two labels
is dropped from the task. Lines are ordered by that hash, so labels are interleaved.
"""

import argparse
import hashlib
import os
import re
import sys

LANGUAGES = {"en": "", "de": "de", "es": "es", "it": "it"}
# English categories about a subject; collections named after a source or a form (cookie,
# fortunes, zippy, platitudes, definitions, ...) are left out of the topic task.
TOPICS = [
    "art", "computers", "drugs", "education", "ethnic", "food", "kids", "law", "linux",
    "literature", "love", "men-women", "politics", "science", "sports", "startrek", "work",
]
SKIPPED_CATEGORY_PATTERN = re.compile(r"ascii-?art")
TEST_EVERY = 5

_SEPARATOR_LINE = re.compile(rb"^%[ \t\r]*$", re.MULTILINE)
_ESCAPES = {b"\\": b"\\\\", b"\t": b"\\t", b"\n": b"\\n", b"\r": b"\\r"}
_UNESCAPES = {b"\\": b"\\", b"t": b"\t", b"n": b"\n", b"r": b"\r"}


def parse_entries(data):
    """The non-empty entries of one fortune file, surrounding white space stripped."""
    entries = []
    for part in _SEPARATOR_LINE.split(data):
        entry = part.strip()
        if entry:
            entries.append(entry)
    return entries


def category_files(folder):
    """(category, path) of every fortune file directly in folder, in name order."""
    if not os.path.isdir(folder):
        return []
    found = []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.islink(path) or not os.path.isfile(path):
            continue
        if name.endswith((".dat", ".u8")) or SKIPPED_CATEGORY_PATTERN.search(name):
            continue
        found.append((name, path))
    return found


def read_collections(source):
    """{language: {category: [entries]}} of the source tree."""
    collections = {}
    for language, subfolder in LANGUAGES.items():
        folder = os.path.join(source, subfolder) if subfolder else source
        categories = {}
        for category, path in category_files(folder):
            with open(path, "rb") as file:
                categories[category] = parse_entries(file.read())
        collections[language] = categories
    return collections


def split_key(text):
    return int.from_bytes(hashlib.sha256(text).digest()[:8], "big")


def is_test(text):
    return split_key(text) % TEST_EVERY == 0


def labelled_texts(pairs):
    """Distinct (label, text) of pairs, without the texts that carry more than one label."""
    labels = {}
    for label, text in pairs:
        labels.setdefault(text, set()).add(label)
    return [(next(iter(found)), text) for text, found in labels.items() if len(found) == 1]


def split(texts):
    """(train, test) of the (label, text) pairs, each ordered by split key, then label."""
    train, test = [], []
    for label, text in texts:
        (test if is_test(text) else train).append((label, text))
    order = lambda pair: (split_key(pair[1]), pair[0], pair[1])
    return sorted(train, key=order), sorted(test, key=order)


def escape(text):
    return re.sub(rb"[\\\t\n\r]", lambda m: _ESCAPES[m.group(0)], text)


def unescape(text):
    def replace(match):
        code = match.group(1)
        if code not in _UNESCAPES:
            raise ValueError("unknown escape \\%s" % code.decode("latin-1"))
        return _UNESCAPES[code]

    # A backslash that ends the text captures nothing and is refused like any unknown escape.
    return re.sub(rb"\\(.?)", replace, text, flags=re.DOTALL)


def write_split(path, pairs):
    with open(path, "wb") as file:
        for label, text in pairs:
            file.write(label.encode("utf-8") + b"\t" + escape(text) + b"\n")


def read_split(path):
    """[(label, text)] of a split file written by write_split."""
    pairs = []
    with open(path, "rb") as file:
        for number, line in enumerate(file, 1):
            if not line.endswith(b"\n") or line.count(b"\t") != 1:
                raise ValueError("%s:%d: not a 'label TAB text' line" % (path, number))
            label, text = line[:-1].split(b"\t")
            pairs.append((label.decode("utf-8"), unescape(text)))
    return pairs


def task_pairs(collections):
    """{task: [(label, text)]} before deduplication."""
    language = [(lang, text) for lang, categories in collections.items()
                for entries in categories.values() for text in entries]
    english = collections.get("en", {})
    topic = [(category, text) for category in TOPICS for text in english.get(category, [])]
    return {"language": language, "topic": topic}


def write_task(folder, pairs):
    os.makedirs(folder, exist_ok=True)
    train, test = split(labelled_texts(pairs))
    write_split(os.path.join(folder, "train.tsv"), train)
    write_split(os.path.join(folder, "test.tsv"), test)
    counts = {}
    for index, part in enumerate((train, test)):
        for label, _ in part:
            counts.setdefault(label, [0, 0])[index] += 1
    with open(os.path.join(folder, "labels.tsv"), "w", encoding="utf-8", newline="\n") as file:
        for label in sorted(counts):
            file.write("%s\t%d\t%d\n" % (label, counts[label][0], counts[label][1]))
    return len(train), len(test), len(counts)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", default="/usr/share/games/fortunes",
                        help="folder of the fortune collections")
    parser.add_argument("--out", required=True, help="folder that receives the tasks")
    args = parser.parse_args(argv)

    collections = read_collections(args.source)
    missing = [language for language, categories in collections.items() if not categories]
    if missing:
        print("No fortune files for: %s (install the fortunes packages: "
              "bench/corpus/setup.sh)" % ", ".join(missing), file=sys.stderr)
        return 1
    for task, pairs in task_pairs(collections).items():
        train, test, labels = write_task(os.path.join(args.out, task), pairs)
        print("%s: %d labels, %d training texts, %d test texts" % (task, labels, train, test))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
