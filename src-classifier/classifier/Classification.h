#pragma once

// The result of classifying one text: the share of its features the classifier knew and one
// probability per class. A plain value filled by Classifier::classify and read by the response
// writer; not synchronised.

#include <map>
#include <string>

namespace norvale::classifier {

class Classification {
public:
    // Ordered by the names' bytes compared as unsigned values (std::char_traits<char> compares
    // that way), a name before every longer name it is a prefix of.
    using Probabilities = std::map<std::string, double>;

    // A classification not yet computed reports a coverage of -1.
    static constexpr double NoCoverage = -1.0;

    double getTextCoverage() const { return _textCoverage; }
    void setTextCoverage(double textCoverage) { _textCoverage = textCoverage; }

    const Probabilities& getProbabilities() const { return _probabilities; }
    // Inserts the class's entry or overwrites the one already there.
    void setProbability(const std::string& className, double probability) {
        _probabilities[className] = probability;
    }

private:
    double _textCoverage = NoCoverage;
    Probabilities _probabilities;
};

}  // namespace norvale::classifier
