#!/usr/bin/env python3
"""Tests of the corpus builder on small fortune trees made in a temporary folder."""

import contextlib
import io
import os
import shutil
import tempfile
import unittest

import make_corpus


class FortuneTree:
    """A fortune source tree in a temporary folder, laid out like the installed packages."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="corpus-test-")
        for language in ("de", "es", "it"):
            os.makedirs(os.path.join(self.root, language))

    def write(self, relative, entries, separator="%\n"):
        path = os.path.join(self.root, relative)
        with open(path, "wb") as file:
            file.write(separator.encode().join(entry.encode("utf-8") + b"\n" for entry in entries))
        return path

    def remove(self):
        shutil.rmtree(self.root)


def numbered(prefix, count):
    return ["%s number %d\n\t\t-- Author %d" % (prefix, i, i) for i in range(count)]


class BuilderTest(unittest.TestCase):
    def setUp(self):
        self.tree = FortuneTree()
        self.out = tempfile.mkdtemp(prefix="corpus-out-")
        self.tree.write("computers", numbered("Computers are fast", 40))
        self.tree.write("food", numbered("Soup is good", 30))
        self.tree.write("zippy", numbered("Are we having fun", 20))  # not a topic
        self.tree.write("de/witze", numbered("Treffen sich zwei", 35))
        self.tree.write("es/refranes.fortunes", numbered("Más vale tarde", 25))
        self.tree.write("it/italia", numbered("Chi va piano", 25))

    def tearDown(self):
        self.tree.remove()
        shutil.rmtree(self.out)

    def build(self, out=None):
        with contextlib.redirect_stdout(io.StringIO()):
            code = make_corpus.main(["--source", self.tree.root, "--out", out or self.out])
        self.assertEqual(code, 0)

    def read(self, task, part, out=None):
        return make_corpus.read_split(os.path.join(out or self.out, task, part + ".tsv"))

    def files(self, out):
        contents = {}
        for folder, _, names in os.walk(out):
            for name in names:
                with open(os.path.join(folder, name), "rb") as file:
                    contents[os.path.relpath(os.path.join(folder, name), out)] = file.read()
        return contents

    def test_splits_are_disjoint_complete_and_repeatable(self):
        self.build()
        train, test = self.read("language", "train"), self.read("language", "test")
        self.assertFalse({t for _, t in train} & {t for _, t in test})
        self.assertEqual(len(train) + len(test), 40 + 30 + 20 + 35 + 25 + 25)
        # 175 texts, one in five expected in the test split.
        self.assertGreater(len(test), 10)
        self.assertGreater(len(train), 3 * len(test))
        for label, text in test:
            self.assertTrue(make_corpus.is_test(text), text)
        again = tempfile.mkdtemp(prefix="corpus-again-")
        try:
            self.build(again)
            self.assertEqual(self.files(self.out), self.files(again))
        finally:
            shutil.rmtree(again)

    def test_labels_follow_folders_and_topics(self):
        self.build()
        language = self.read("language", "train") + self.read("language", "test")
        by_label = {}
        for label, text in language:
            by_label.setdefault(label, []).append(text)
        self.assertEqual(sorted(by_label), ["de", "en", "es", "it"])
        self.assertEqual(len(by_label["en"]), 90)
        self.assertTrue(all(t.startswith("Más vale".encode()) for t in by_label["es"]))
        topic = self.read("topic", "train") + self.read("topic", "test")
        self.assertEqual(sorted({label for label, _ in topic}), ["computers", "food"])
        self.assertEqual(len(topic), 70)
        with open(os.path.join(self.out, "topic", "labels.tsv"), encoding="utf-8") as file:
            rows = [line.rstrip("\n").split("\t") for line in file]
        self.assertEqual([row[0] for row in rows], ["computers", "food"])
        self.assertEqual(sum(int(row[1]) + int(row[2]) for row in rows), 70)
        counted_test = sum(1 for label, _ in self.read("topic", "test") if label == "food")
        self.assertEqual(int(rows[1][2]), counted_test)

    def test_adding_a_file_moves_no_text_between_splits(self):
        self.build()
        before = {t: part for part in ("train", "test") for _, t in self.read("language", part)}
        self.tree.write("de/zitate", numbered("Wer zuletzt lacht", 50))
        self.build()
        after = {t: part for part in ("train", "test") for _, t in self.read("language", part)}
        self.assertEqual(len(after), len(before) + 50)
        for text, part in before.items():
            self.assertEqual(after[text], part)

    def test_skips_links_indexes_ascii_art_and_other_folders(self):
        os.symlink("italia", os.path.join(self.tree.root, "it", "italia.u8"))
        os.symlink("it/italia", os.path.join(self.tree.root, "italia"))
        self.tree.write("food.dat", ["binary index"])
        self.tree.write("ascii-art", ["  /\\_/\\\n ( o.o )"])
        self.tree.write("de/asciiart", ["  ( o.o )  "])
        os.makedirs(os.path.join(self.tree.root, "off"))
        self.tree.write("off/rude", ["Something rude"])
        self.build()
        texts = [t for part in ("train", "test") for _, t in self.read("language", part)]
        self.assertEqual(len(texts), 175)
        self.assertEqual(len(set(texts)), 175)
        self.assertFalse([t for t in texts if b"o.o" in t or b"rude" in t or b"index" in t])

    def test_duplicates_kept_once_and_conflicting_labels_dropped(self):
        self.tree.write("de/doppelt", ["Shared text", "Only German", "Only German"])
        self.tree.write("science", ["Shared text", "E = mc^2"])
        self.build()
        pairs = self.read("language", "train") + self.read("language", "test")
        texts = [t for _, t in pairs]
        self.assertNotIn(b"Shared text", texts)
        self.assertEqual(texts.count(b"Only German"), 1)
        self.assertIn(("en", b"E = mc^2"), pairs)

    def test_missing_language_folder_fails(self):
        shutil.rmtree(os.path.join(self.tree.root, "es"))
        with contextlib.redirect_stderr(io.StringIO()) as error:
            code = make_corpus.main(["--source", self.tree.root, "--out", self.out])
        self.assertEqual(code, 1)
        self.assertIn("es", error.getvalue())


class EntryTest(unittest.TestCase):
    def test_entries_split_on_percent_lines_only(self):
        data = (b"first line\n  indented\n%\n\n%\nsecond 100% sure\n%  \r\n"
                b"third\r\n%\nlast without separator\n")
        self.assertEqual(make_corpus.parse_entries(data),
                         [b"first line\n  indented", b"second 100% sure", b"third",
                          b"last without separator"])
        self.assertEqual(make_corpus.parse_entries(b"%\n%\n"), [])

    def test_escapes_round_trip_through_a_split_file(self):
        texts = [b"tab\there", b"line\nbreak\r\n", b"back\\slash\\n not a newline",
                 b"ends with \\", "umlaut \u00e4 and \u00df".encode("utf-8")]
        folder = tempfile.mkdtemp(prefix="corpus-escape-")
        try:
            path = os.path.join(folder, "split.tsv")
            make_corpus.write_split(path, [("x", t) for t in texts])
            with open(path, "rb") as file:
                lines = file.read().split(b"\n")
            self.assertEqual(lines[0], b"x\ttab\\there")
            self.assertEqual(lines[2], b"x\tback\\\\slash\\\\n not a newline")
            self.assertEqual(len(lines), len(texts) + 1)
            self.assertEqual(make_corpus.read_split(path), [("x", t) for t in texts])
        finally:
            shutil.rmtree(folder)

    def test_malformed_lines_are_refused(self):
        for bad in (b"unknown \\q escape", b"dangling \\"):
            with self.assertRaises(ValueError):
                make_corpus.unescape(bad)
        folder = tempfile.mkdtemp(prefix="corpus-bad-")
        try:
            path = os.path.join(folder, "split.tsv")
            for content in (b"no tab at all\n", b"a\tb\tc\n", b"a\tno final newline"):
                with open(path, "wb") as file:
                    file.write(content)
                with self.assertRaises(ValueError):
                    make_corpus.read_split(path)
        finally:
            shutil.rmtree(folder)


if __name__ == "__main__":
    unittest.main()
