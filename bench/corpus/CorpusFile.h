#pragma once

// Reads one split of the real-text corpus that make_corpus.py writes: one "label TAB text" line
// per text, the text with backslash, TAB, LF and CR escaped as \\, \t, \n and \r. Benchmarks and
// load tools read the same files, so both sides of a comparison see the same bytes. Plain
// functions without state; safe from any thread.

#include <string>
#include <string_view>
#include <vector>

#include "exceptions/Exception.h"

namespace bench::corpus {

class CorpusFileException : public exceptions::Exception {
public:
    using Exception::Exception;
};

struct LabelledText {
    std::string label;
    std::string text;

    bool operator==(const LabelledText&) const = default;
};

// The texts of a split's content, in line order. Throws CorpusFileException naming the line for
// a line without exactly one TAB, an empty label, an unknown or dangling escape, or content that
// does not end with a line feed.
std::vector<LabelledText> parseCorpusText(std::string_view content);

// The texts of the split file at path; throws CorpusFileException when it cannot be read or
// parsed (the message names the file).
std::vector<LabelledText> readCorpusFile(const std::string& path);

// The distinct labels of texts, in byte order.
std::vector<std::string> corpusLabels(const std::vector<LabelledText>& texts);

}  // namespace bench::corpus
