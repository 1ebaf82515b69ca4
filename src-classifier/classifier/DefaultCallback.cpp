#include "classifier/DefaultCallback.h"

#include <cstdio>
#include <string>

#include "debug/assertion.h"

namespace norvale::classifier {

void DefaultCallback::onFailure(const std::string& expression, const std::string& description,
                                const std::string& file, int line) {
    const std::string report =
        "An assertion occurred in the Classifier API.\n"
        "This could be serious and you should contact the developer with this information.\n"
        "Expression: " +
        expression + "\nDescription: " + description + "\nFile: " + file +
        "\nLine: " + std::to_string(line) +
        "\n\n"
        "Please report this information to the Quillmark Server support address.\n"
        "Thank you for helping us improve our software.\n";
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fflush(stdout);
    debug::assertion(expression.c_str(), description.c_str(), file.c_str(), line);
}

std::unique_ptr<Callback> DefaultCallback::clone() const {
    return std::make_unique<DefaultCallback>();
}

}  // namespace norvale::classifier
