#include "corpus/CorpusFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

namespace bench::corpus {

namespace {

[[noreturn]] void refuse(std::size_t lineNumber, const std::string& what) {
    throw CorpusFileException("Line " + std::to_string(lineNumber) + ": " + what + ".");
}

std::string unescape(std::string_view escaped, std::size_t lineNumber) {
    std::string text;
    text.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            text.push_back(escaped[i]);
            continue;
        }
        if (++i == escaped.size()) refuse(lineNumber, "a backslash ends the text");
        switch (escaped[i]) {
            case '\\':
                text.push_back('\\');
                break;
            case 't':
                text.push_back('\t');
                break;
            case 'n':
                text.push_back('\n');
                break;
            case 'r':
                text.push_back('\r');
                break;
            default:
                refuse(lineNumber, std::string("unknown escape \\") + escaped[i]);
        }
    }
    return text;
}

LabelledText parseLine(std::string_view line, std::size_t lineNumber) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos || line.find('\t', tab + 1) != std::string_view::npos) {
        refuse(lineNumber, "not a 'label TAB text' line");
    }
    if (tab == 0) refuse(lineNumber, "empty label");
    return {std::string(line.substr(0, tab)), unescape(line.substr(tab + 1), lineNumber)};
}

}  // namespace

std::vector<LabelledText> parseCorpusText(std::string_view content) {
    std::vector<LabelledText> texts;
    std::size_t lineNumber = 0;
    while (!content.empty()) {
        ++lineNumber;
        const std::size_t end = content.find('\n');
        if (end == std::string_view::npos) refuse(lineNumber, "no line feed at the end");
        texts.push_back(parseLine(content.substr(0, end), lineNumber));
        content.remove_prefix(end + 1);
    }
    return texts;
}

std::vector<LabelledText> readCorpusFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw CorpusFileException("Cannot open the corpus file '" + path + "'.");
    const std::string content{std::istreambuf_iterator<char>(file),
                              std::istreambuf_iterator<char>()};
    if (file.bad()) throw CorpusFileException("Cannot read the corpus file '" + path + "'.");
    try {
        return parseCorpusText(content);
    } catch (const CorpusFileException& e) {
        throw CorpusFileException("In the corpus file '" + path + "': " + e.what());
    }
}

std::vector<std::string> corpusLabels(const std::vector<LabelledText>& texts) {
    std::set<std::string> labels;
    for (const LabelledText& text : texts) labels.insert(text.label);
    return {labels.begin(), labels.end()};
}

}  // namespace bench::corpus
