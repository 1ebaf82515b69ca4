#include "client/TextResultWriter.h"

#include <algorithm>
#include <cstdio>

#include "client/Progress.h"

namespace norvale::quillmark::client {

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string rightAligned(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

}  // namespace

void TextResultWriter::changed(const Change& change) {
    const std::string classifier = "classifier '" + change.classifier + "'";
    if (change.action == "create") {
        *_out << "Created " << classifier << ".\n";
    } else if (change.action == "remove") {
        *_out << "Removed " << classifier << ".\n";
    } else if (change.action == "addClass") {
        for (const std::string& name : change.classes) {
            *_out << "Added class '" << name << "' to " << classifier << ".\n";
        }
    } else {
        for (const std::string& name : change.classes) {
            *_out << "Removed class '" << name << "' from " << classifier << ".\n";
        }
    }
}

void TextResultWriter::trained(const TrainingSummary& summary) {
    const bool train = summary.action == "train";
    *_out << (train ? "Trained " : "Untrained ") << summary.texts
          << (summary.texts == 1 ? " text (" : " texts (")
          << Progress::formatBytes(static_cast<double>(summary.bytes))
          << (train ? ") into class '" : ") from class '") << summary.className
          << "' of classifier '" << summary.classifier << "' in " << summary.requests
          << (summary.requests == 1 ? " request.\n" : " requests.\n");
}

void TextResultWriter::beginTexts(std::size_t count) {
    _count = count;
    _written = 0;
}

void TextResultWriter::heading(const std::string& label) {
    if (_count <= 1) return;
    if (_written > 0) *_out << '\n';
    *_out << label << ":\n";
}

void TextResultWriter::classification(const std::string& label, const ClassifyResult& result) {
    heading(label);
    const std::string indent = _count > 1 ? "  " : "";
    std::size_t width = 0;
    for (const ClassProbability& entry : result.classes) {
        width = std::max(width, entry.className.size());
    }
    for (const ClassProbability& entry : byProbability(result.classes)) {
        *_out << indent << padded(entry.className, width) << "  " << number(entry.p) << '\n';
    }
    if (result.textCoverage) {
        *_out << indent << "text coverage: " << number(*result.textCoverage) << '\n';
    }
    ++_written;
}

void TextResultWriter::keywords(const std::string& label, const KeywordsResult& result) {
    heading(label);
    const std::string indent = _count > 1 ? "  " : "";
    if (result.keywords.empty()) *_out << indent << "(no keywords)\n";
    std::size_t width = 0;
    for (const KeywordEntry& entry : result.keywords) {
        width = std::max(width, entry.className.size());
    }
    for (const KeywordEntry& entry : byProbability(result.keywords)) {
        *_out << indent << padded(number(entry.p), 11) << "  " << padded(entry.className, width)
              << "  " << entry.text << '\n';
    }
    ++_written;
}

void TextResultWriter::information(const std::string& classifier, const InformationResult& result) {
    if (result.classes.empty()) {
        *_out << "Classifier '" << classifier << "' has no classes.\n";
        return;
    }
    std::size_t width = 5;
    for (const ClassStatistics& entry : result.classes) {
        width = std::max(width, entry.className.size());
    }
    *_out << padded("class", width) << "  unique features  total count\n";
    for (const ClassStatistics& entry : result.classes) {
        *_out << padded(entry.className, width) << "  "
              << rightAligned(std::to_string(entry.uniqueFeatures), 15) << "  "
              << rightAligned(std::to_string(entry.totalCount), 11) << '\n';
    }
}

void TextResultWriter::response(const std::string& document, const Response&) {
    *_out << document;
    if (document.empty() || document.back() != '\n') *_out << '\n';
}

}  // namespace norvale::quillmark::client
