#pragma once

// Test doubles for the classifier's callback: every report is recorded, so tests can check
// which internal checks failed and with what texts; and the message a refused call throws.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classifier/CallbackFactory.h"
#include "classifier/ClassifierException.h"

namespace norvale::classifier {

struct FailureReport {
    std::string _expression;
    std::string _description;
};

class RecordingCallback : public Callback {
public:
    explicit RecordingCallback(std::vector<FailureReport>* reports) : _reports(reports) {}

    void onFailure(const std::string& expression, const std::string& description,
                   const std::string&, int) override {
        _reports->push_back({expression, description});
    }
    std::unique_ptr<Callback> clone() const override {
        return std::make_unique<RecordingCallback>(_reports);
    }

private:
    std::vector<FailureReport>* _reports;
};

class RecordingCallbackFactory : public CallbackFactory {
public:
    std::unique_ptr<Callback> create() const override {
        return std::make_unique<RecordingCallback>(&_reports);
    }

    const std::vector<FailureReport>& reports() const { return _reports; }

private:
    mutable std::vector<FailureReport> _reports;
};

// The message of the ClassifierException that `call` throws.
inline std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ClassifierException& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

}  // namespace norvale::classifier
