#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "classifier/ClassInformation.h"
#include "classifier/Classification.h"
#include "classifier/KeywordQueue.h"

namespace norvale::quillmark {

// Collects the results of one request's calls and writes the success document. Request
// execution makes one per request through a ResponseFactory and reports each call's result in
// call order; read results and write results are kept apart and listed in their own sections.
// Used by one connection thread only.
// Thrown by a report that would take the success document past its bound: the request asked
// for more than one answer may hold. Not an exceptions::Exception, so that no call handler
// mistakes it for the failure of one call; the write transaction under way is not committed.
class AnswerTooLargeException : public std::length_error {
public:
    using std::length_error::length_error;
};

class Response {
public:
    virtual ~Response() = default;

    // Read results. The keyword queue's keywords point into their classifier: report them while
    // the classifier's reader lock is still held.
    virtual void classify(const std::string& id,
                          const classifier::Classification& classification) = 0;
    virtual void classifyKeywords(const std::string& id,
                                  const classifier::KeywordQueue& keywords) = 0;
    virtual void getInformation(const std::string& id,
                                const std::vector<classifier::ClassInformation>& classes) = 0;

    // Write results.
    virtual void create(const std::string& id) = 0;
    virtual void remove(const std::string& id) = 0;
    virtual void addClass(const std::string& id) = 0;
    virtual void removeClass(const std::string& id) = 0;
    virtual void train(const std::string& id) = 0;
    virtual void untrain(const std::string& id) = 0;

    // The whole success document; the no-calls document when no result was reported.
    virtual std::string getResponse() const = 0;

    // Forgets every result reported so far.
    virtual void clear() = 0;
};

}  // namespace norvale::quillmark
