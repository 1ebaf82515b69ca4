#include "client/JsonResultWriter.h"

#include <cstdio>
#include <variant>

#include "util/Base64EncoderImpl.h"
#include "util/Utf8.h"

namespace norvale::quillmark::client {

namespace {

std::string escapedByte(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", byte);
    return text;
}

std::string field(std::string_view name, const std::string& value) {
    return jsonString(name) + ": " + value;
}

std::string classesArray(const std::vector<ClassProbability>& classes) {
    std::string text = "[";
    for (const ClassProbability& entry : byProbability(classes)) {
        if (text.size() > 1) text += ", ";
        text += "{" + field("className", jsonString(entry.className)) + ", " +
                field("p", jsonNumber(entry.p)) + "}";
    }
    return text + "]";
}

// `name` with bytes as a JSON string; bytes that are not UTF-8 have no exact JSON form, so a
// "<name>Base64" copy keeps them (a keyword, a file name).
std::string bytesFields(const std::string& name, const std::string& bytes) {
    std::string text = field(name, jsonString(bytes));
    if (!isUtf8(bytes)) {
        text += ", " + field(name + "Base64", jsonString(util::Base64EncoderImpl().encode(bytes)));
    }
    return text;
}

std::string keywordsArray(const std::vector<KeywordEntry>& keywords) {
    std::string text = "[";
    for (const KeywordEntry& entry : byProbability(keywords)) {
        if (text.size() > 1) text += ", ";
        text += "{" + bytesFields("keyword", entry.text) + ", " +
                field("className", jsonString(entry.className)) + ", " +
                field("p", jsonNumber(entry.p)) + "}";
    }
    return text + "]";
}

std::string statisticsArray(const std::vector<ClassStatistics>& classes) {
    std::string text = "[";
    for (const ClassStatistics& entry : classes) {
        if (text.size() > 1) text += ", ";
        text += "{" + field("className", jsonString(entry.className)) + ", " +
                field("uniqueFeatures", std::to_string(entry.uniqueFeatures)) + ", " +
                field("totalCount", std::to_string(entry.totalCount)) + "}";
    }
    return text + "]";
}

std::string classificationFields(const ClassifyResult& result) {
    std::string text;
    if (result.textCoverage) {
        text += field("textCoverage", jsonNumber(*result.textCoverage)) + ", ";
    }
    return text + field("classes", classesArray(result.classes));
}

struct ReadResultObject {
    std::string operator()(const ClassifyResult& result) const {
        return "{" + field("call", jsonString("classify")) + ", " +
               field("id", jsonString(result.id)) + ", " + classificationFields(result) + "}";
    }
    std::string operator()(const KeywordsResult& result) const {
        return "{" + field("call", jsonString("classifyKeywords")) + ", " +
               field("id", jsonString(result.id)) + ", " +
               field("keywords", keywordsArray(result.keywords)) + "}";
    }
    std::string operator()(const InformationResult& result) const {
        return "{" + field("call", jsonString("getInformation")) + ", " +
               field("id", jsonString(result.id)) + ", " +
               field("classes", statisticsArray(result.classes)) + "}";
    }
};

}  // namespace

bool isUtf8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = util::utf8Character(bytes, at).length;
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string jsonString(std::string_view bytes) {
    std::string text = "\"";
    for (std::size_t at = 0; at < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        const std::size_t length = util::utf8Character(bytes, at).length;
        if (length == 0) {
            text += escapedByte(byte);
            ++at;
        } else if (byte == '"' || byte == '\\') {
            text += '\\';
            text += static_cast<char>(byte);
            ++at;
        } else if (byte == '\n') {
            text += "\\n";
            ++at;
        } else if (byte == '\t') {
            text += "\\t";
            ++at;
        } else if (byte < 0x20 || byte == 0x7F) {
            text += escapedByte(byte);
            ++at;
        } else {
            text.append(bytes, at, length);
            at += length;
        }
    }
    return text + "\"";
}

std::string jsonNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

void JsonResultWriter::changed(const Change& change) {
    std::string classes = "[";
    for (const std::string& name : change.classes) {
        if (classes.size() > 1) classes += ", ";
        classes += jsonString(name);
    }
    *_out << "{" << field("action", jsonString(change.action)) << ", "
          << field("classifier", jsonString(change.classifier)) << ", "
          << field("classes", classes + "]") << "}\n";
}

void JsonResultWriter::trained(const TrainingSummary& summary) {
    *_out << "{" << field("action", jsonString(summary.action)) << ", "
          << field("classifier", jsonString(summary.classifier)) << ", "
          << field("className", jsonString(summary.className)) << ", "
          << field("texts", std::to_string(summary.texts)) << ", "
          << field("bytes", std::to_string(summary.bytes)) << ", "
          << field("requests", std::to_string(summary.requests)) << ", "
          << field("seconds", jsonNumber(summary.seconds)) << "}\n";
}

void JsonResultWriter::beginTexts(std::size_t) {
    _texts.str("");
    _texts << "[";
    _inTexts = true;
    _written = 0;
}

void JsonResultWriter::nextText() {
    _texts << (_written++ == 0 ? "\n  " : ",\n  ");
}

void JsonResultWriter::classification(const std::string& label, const ClassifyResult& result) {
    nextText();
    _texts << "{" << bytesFields("source", label) << ", " << classificationFields(result) << "}";
}

void JsonResultWriter::keywords(const std::string& label, const KeywordsResult& result) {
    nextText();
    _texts << "{" << bytesFields("source", label) << ", "
           << field("keywords", keywordsArray(result.keywords)) << "}";
}

void JsonResultWriter::endTexts() {
    if (!_inTexts) return;
    _texts << (_written > 0 ? "\n]\n" : "]\n");
    *_out << _texts.str();
    _inTexts = false;
}

void JsonResultWriter::information(const std::string& classifier, const InformationResult& result) {
    *_out << "{" << field("classifier", jsonString(classifier)) << ", "
          << field("classes", statisticsArray(result.classes)) << "}\n";
}

void JsonResultWriter::response(const std::string&, const Response& parsed) {
    std::string reads = "[";
    for (const ReadResult& result : parsed.readResults) {
        if (reads.size() > 1) reads += ", ";
        reads += std::visit(ReadResultObject{}, result);
    }
    std::string writes = "[";
    for (const WriteResult& result : parsed.writeResults) {
        if (writes.size() > 1) writes += ", ";
        writes += "{" + field("call", jsonString(result.call)) + ", " +
                  field("id", jsonString(result.id)) + "}";
    }
    *_out << "{" << field("success", parsed.success ? "true" : "false") << ", "
          << field("statusCode", std::to_string(parsed.statusCode)) << ", "
          << field("version", jsonString(parsed.version)) << ", "
          << field("message", jsonString(parsed.message)) << ", " << field("readCalls", reads + "]")
          << ", " << field("writeCalls", writes + "]") << "}\n";
}

// Results of texts collected so far are dropped: the output stays one JSON document.
void JsonResultWriter::error(int statusCode, const std::string& message) {
    _inTexts = false;
    *_out << "{" << field("success", "false") << ", "
          << field("statusCode", std::to_string(statusCode)) << ", "
          << field("message", jsonString(message)) << "}\n";
}

}  // namespace norvale::quillmark::client
