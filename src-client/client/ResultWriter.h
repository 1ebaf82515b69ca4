#pragma once

// Prints what a command achieved, for a person (TextResultWriter) or a program
// (JsonResultWriter). Errors go to standard error through the command runner; a writer only
// adds them to its own output when a program reads it. Used by one thread.

#include <cstdint>
#include <string>
#include <vector>

#include "client/Response.h"

namespace norvale::quillmark::client {

// create, remove, add-class, remove-class.
struct Change {
    std::string action;  // the call: "create", "remove", "addClass", "removeClass"
    std::string classifier;
    std::vector<std::string> classes;
};

// train and untrain.
struct TrainingSummary {
    std::string action;  // "train" or "untrain"
    std::string classifier;
    std::string className;
    std::uint64_t texts = 0;
    std::uint64_t bytes = 0;
    std::uint64_t requests = 0;
    double seconds = 0;
};

class ResultWriter {
public:
    virtual ~ResultWriter() = default;

    virtual void changed(const Change& change) = 0;
    virtual void trained(const TrainingSummary& summary) = 0;

    // classify and keywords: one entry per text, between begin and end. `label` names the
    // text (its path, "-" for standard input).
    virtual void beginTexts(std::size_t count) = 0;
    virtual void classification(const std::string& label, const ClassifyResult& result) = 0;
    virtual void keywords(const std::string& label, const KeywordsResult& result) = 0;
    virtual void endTexts() = 0;

    virtual void information(const std::string& classifier, const InformationResult& result) = 0;

    // send: the response as the server wrote it, and as it was read.
    virtual void response(const std::string& document, const Response& parsed) = 0;

    // A failed command (error document or local failure).
    virtual void error(int statusCode, const std::string& message) = 0;
};

// Classes ordered by probability, the most likely first; equal ones by name.
std::vector<ClassProbability> byProbability(std::vector<ClassProbability> classes);
// Keywords ordered by probability, the strongest first; equal ones by class, then text.
std::vector<KeywordEntry> byProbability(std::vector<KeywordEntry> keywords);

}  // namespace norvale::quillmark::client
