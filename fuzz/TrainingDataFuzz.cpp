// libFuzzer target for the classifier-file loader: any byte string given to setTrainingData
// either loads or throws ClassifierException, and what loads writes itself back to a blob that
// loads again to the same bytes, and can then be classified and untrained with a text made of its
// own stored features without tripping an engine check. An input starting with 'J' is a journal
// instead: its records, behind a header that matches a small trained classifier, and the input
// itself as a whole journal, are read and replayed onto that classifier, which must then store
// and load again to the same bytes. Crashes, sanitizer reports, leaks and allocations beyond
// libFuzzer's malloc limit are the findings.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "classifier/CallbackFactory.h"
#include "classifier/ClassifierException.h"
#include "classifier/ClassifierImpl.h"
#include "classifier/KeywordQueue.h"
#include "server/ClassifierJournal.h"

namespace {

using norvale::classifier::Callback;
using norvale::classifier::CallbackFactory;
using norvale::classifier::ClassifierException;
using norvale::classifier::ClassifierImpl;

// Reports of left-over bytes are expected here and must not end the run.
class IgnoringCallback : public Callback {
public:
    void onFailure(const std::string&, const std::string&, const std::string&, int) override {}
    std::unique_ptr<Callback> clone() const override {
        return std::make_unique<IgnoringCallback>();
    }
};

class IgnoringCallbackFactory : public CallbackFactory {
public:
    std::unique_ptr<Callback> create() const override {
        return std::make_unique<IgnoringCallback>();
    }
};

const IgnoringCallbackFactory callbacks;

// Up to 64 stored features, space-separated, so the loaded records are looked up.
std::string textOfStoredFeatures(const ClassifierImpl& classifier) {
    const auto& set = classifier.featureSet();
    std::string text;
    std::size_t taken = 0;
    for (std::size_t k = 0; k < set.laneCount() && taken < 64; ++k) {
        for (auto it = set.lane(k).begin(); it != set.lane(k).end() && taken < 64; ++it, ++taken) {
            text.append(it.feature()).push_back(' ');
        }
    }
    return text;
}

// A stored file may hold a class with an empty name, which untrain refuses by design; the first
// class with a name is untrained instead, or none.
const std::string* firstNamedClass(const ClassifierImpl& classifier) {
    const auto& set = classifier.featureSet();
    for (std::size_t c = 0; c < set.classCount(); ++c) {
        if (!set.classAt(c)._name.empty()) return &set.classAt(c)._name;
    }
    return nullptr;
}

// Reads and changes the loaded classifier the way requests would.
void useLoaded(ClassifierImpl& classifier) {
    if (classifier.featureSet().classCount() == 0) return;
    const std::string text = textOfStoredFeatures(classifier);
    norvale::classifier::Classification result;
    classifier.classify(text, result);
    norvale::classifier::KeywordQueue keywords(8, 0.0);
    classifier.classifyKeywords(text, keywords);
    const std::string* named = firstNamedClass(classifier);
    if (named == nullptr) return;
    classifier.untrain(*named, text);
    classifier.compact();
    classifier.classify(text, result);
}

void reloadsToTheSameBytes(const ClassifierImpl& classifier) {
    const std::string written = classifier.getTrainingData();
    ClassifierImpl again(&callbacks, 0.05);
    again.setTrainingData(written);
    if (again.getTrainingData() != written) __builtin_trap();
}

void replayJournal(std::string_view journal) {
    using norvale::quillmark::ClassifierJournal;
    ClassifierImpl base(&callbacks, 0.05);
    base.addClass("a");
    base.addClass("b");
    base.train("a", "buy now cheap");
    base.train("b", "meeting at noon");
    base.compact();
    const std::string file = base.getTrainingData();
    for (const std::string& whole :
         {ClassifierJournal::header(file) + std::string(journal), std::string(journal)}) {
        ClassifierImpl classifier(&callbacks, 0.05);
        classifier.setTrainingData(file);
        try {
            const ClassifierJournal::Contents contents = ClassifierJournal::read(whole, file);
            if (contents.validLength > whole.size()) __builtin_trap();
            // Not torn: nothing but the zeros written ahead follows the records.
            if (!contents.torn && contents.extendsFile &&
                whole.find_first_not_of('\0', contents.validLength) != std::string::npos) {
                __builtin_trap();
            }
            for (const auto& record : contents.records)
                ClassifierJournal::replay(record, classifier);
        } catch (const ClassifierException&) {
            // A damaged journal, or a call the classifier refuses: the load fails.
            continue;
        }
        classifier.compact();
        reloadsToTheSameBytes(classifier);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (!input.empty() && input[0] == 'J') {
        replayJournal(input.substr(1));
        return 0;
    }
    ClassifierImpl classifier(&callbacks, 0.05);
    try {
        classifier.setTrainingData(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const ClassifierException&) {
        if (classifier.featureSet().classCount() != 0) __builtin_trap();
        return 0;
    }
    const std::string written = classifier.getTrainingData();
    ClassifierImpl again(&callbacks, 0.05);
    again.setTrainingData(written);
    if (again.getTrainingData() != written) __builtin_trap();
    useLoaded(again);
    return 0;
}
