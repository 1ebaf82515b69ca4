#pragma once

#include <ostream>

#include "client/ResultWriter.h"

namespace norvale::quillmark::client {

// Plain text for a person: sentences for changes, aligned columns for results. Errors are left
// to standard error. `out` is not owned.
class TextResultWriter : public ResultWriter {
public:
    explicit TextResultWriter(std::ostream* out) : _out(out) {}

    void changed(const Change& change) override;
    void trained(const TrainingSummary& summary) override;
    void beginTexts(std::size_t count) override;
    void classification(const std::string& label, const ClassifyResult& result) override;
    void keywords(const std::string& label, const KeywordsResult& result) override;
    void endTexts() override {}
    void information(const std::string& classifier, const InformationResult& result) override;
    void response(const std::string& document, const Response& parsed) override;
    void error(int, const std::string&) override {}

private:
    void heading(const std::string& label);

    std::ostream* _out;
    // Texts of the current list: labels are printed only when there are several.
    std::size_t _count = 0;
    std::size_t _written = 0;
};

}  // namespace norvale::quillmark::client
