#pragma once

#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

#include "client/ResultWriter.h"

namespace norvale::quillmark::client {

// JSON for programs: one document per command on standard output, ending with a line feed.
// classify and keywords write an array with one object per text. An error replaces whatever the
// command would have written with {"success": false, "statusCode": ..., "message": ...}.
// `out` is not owned.
class JsonResultWriter : public ResultWriter {
public:
    explicit JsonResultWriter(std::ostream* out) : _out(out) {}

    void changed(const Change& change) override;
    void trained(const TrainingSummary& summary) override;
    void beginTexts(std::size_t count) override;
    void classification(const std::string& label, const ClassifyResult& result) override;
    void keywords(const std::string& label, const KeywordsResult& result) override;
    void endTexts() override;
    void information(const std::string& classifier, const InformationResult& result) override;
    void response(const std::string& document, const Response& parsed) override;
    void error(int statusCode, const std::string& message) override;

private:
    void nextText();

    std::ostream* _out;
    // The array of texts, held back until it is complete.
    std::ostringstream _texts;
    bool _inTexts = false;
    std::size_t _written = 0;
};

// A JSON string literal of `bytes`. Valid UTF-8 is kept; any other byte is written as the
// character with its value (\u00XX), as if the text were ISO 8859-1.
std::string jsonString(std::string_view bytes);
// A number as the server wrote it ("%.6g").
std::string jsonNumber(double value);
// True when `bytes` is valid UTF-8, so jsonString keeps it byte for byte.
bool isUtf8(std::string_view bytes);

}  // namespace norvale::quillmark::client
