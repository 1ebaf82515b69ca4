#pragma once

#include <string>
#include <string_view>

namespace norvale::quillmark {

// The write calls of one request on one classifier: commit stores them and makes them visible
// together. Destruction without commit rolls everything back. The first change takes the
// classifier's writer lock; each throws what the classifier's own operation throws.
class ClassifierTransaction {
public:
    virtual ~ClassifierTransaction() = default;

    virtual void create() = 0;
    virtual const std::string& getName() const = 0;
    virtual void addClass(std::string_view className) = 0;
    virtual void removeClass(std::string_view className) = 0;
    virtual void train(std::string_view className, std::string_view text) = 0;
    virtual void untrain(std::string_view className, std::string_view text) = 0;
    virtual void remove() = 0;
    virtual void commit() = 0;
};

}  // namespace norvale::quillmark
