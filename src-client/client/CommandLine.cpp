#include "client/CommandLine.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <thread>

#include "util/Utf8.h"

namespace norvale::quillmark::client {

const char* const UsageText =
    "usage: quillmark [options] COMMAND ...\n"
    "\n"
    "commands:\n"
    "  create NAME                    create the classifier NAME\n"
    "  remove NAME                    delete the classifier NAME\n"
    "  add-class NAME CLASS...        add classes\n"
    "  remove-class NAME CLASS        remove a class\n"
    "  train NAME CLASS [FILE...|-]   train the class with files, folders or standard input\n"
    "  untrain NAME CLASS [FILE...|-] take texts back out of the class\n"
    "  classify NAME [FILE...|-]      class probabilities of each text, most likely first\n"
    "  keywords NAME [FILE...|-]      the words of each text that speak for a class\n"
    "  info NAME                      classes with their feature counts\n"
    "  send [FILE|-]                  send a request document as it is, print the response\n"
    "\n"
    "options:\n"
    "  --host HOST          server host (default $QUILLMARK_HOST, else localhost)\n"
    "  --port PORT          server port (default $QUILLMARK_PORT, else 27182)\n"
    "  --json               machine-readable output\n"
    "  --version V          protocol version 1.00 or 1.01 (default 1.01; 1.00 has no text "
    "coverage)\n"
    "  --max-request SIZE   bytes per request when sending many texts, K and M suffixes allowed\n"
    "                       (default 1M); a larger single text is sent alone\n"
    "  --parallel N         requests in flight at once, answers still printed in input order\n"
    "                       (default: the number of cores, at most 8; 1 for train and untrain)\n"
    "  --help               this text\n"
    "\n"
    "Texts are read as bytes and sent unchanged, at most 1 GiB each. Folders are read\n"
    "recursively.\n"
    "exit status: 0 success, 1 the server answered with an error, 2 usage error,\n"
    "             3 the server could not be reached or gave no response document,\n"
    "             4 the output could not be written, or out of memory\n";

namespace {

struct Form {
    Command command;
    // Words after the sub-command: the classifier name (when named), the fixed classes, then
    // up to maxExtra further words.
    bool named;
    std::size_t minClasses;
    std::size_t maxClasses;
    std::size_t maxInputs;
    const char* synopsis;
};

constexpr std::size_t Unbounded = static_cast<std::size_t>(-1);

const std::map<std::string, Form>& forms() {
    static const std::map<std::string, Form> table = {
        {"create", {Command::Create, true, 0, 0, 0, "create NAME"}},
        {"remove", {Command::Remove, true, 0, 0, 0, "remove NAME"}},
        {"add-class", {Command::AddClass, true, 1, Unbounded, 0, "add-class NAME CLASS..."}},
        {"remove-class", {Command::RemoveClass, true, 1, 1, 0, "remove-class NAME CLASS"}},
        {"train", {Command::Train, true, 1, 1, Unbounded, "train NAME CLASS [FILE...|-]"}},
        {"untrain", {Command::Untrain, true, 1, 1, Unbounded, "untrain NAME CLASS [FILE...|-]"}},
        {"classify", {Command::Classify, true, 0, 0, Unbounded, "classify NAME [FILE...|-]"}},
        {"keywords", {Command::Keywords, true, 0, 0, Unbounded, "keywords NAME [FILE...|-]"}},
        {"info", {Command::Info, true, 0, 0, 0, "info NAME"}},
        {"send", {Command::Send, false, 0, 0, 1, "send [FILE|-]"}},
    };
    return table;
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::uint16_t parsePort(const std::string& text) {
    if (!allDigits(text) || text.size() > 5 || std::stoul(text) == 0 || std::stoul(text) > 65535) {
        throw UsageException("The port must be a number from 1 to 65535, not '" + text + "'.");
    }
    return static_cast<std::uint16_t>(std::stoul(text));
}

std::size_t parseSize(const std::string& text) {
    std::string digits = text;
    std::size_t unit = 1;
    if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'k')) unit = 1024;
    if (!digits.empty() && (digits.back() == 'M' || digits.back() == 'm')) unit = 1024 * 1024;
    if (unit != 1) digits.pop_back();
    // Above 1 GiB a request could not be sent in one piece to any server.
    if (!allDigits(digits) || digits.size() > 10 || std::stoull(digits) == 0 ||
        std::stoull(digits) * unit > (1ULL << 30)) {
        throw UsageException(
            "The request size must be a number of bytes from 1 to 1G (K and M "
            "suffixes allowed), not '" +
            text + "'.");
    }
    return static_cast<std::size_t>(std::stoull(digits) * unit);
}

std::size_t parseParallel(const std::string& text) {
    if (!allDigits(text) || text.size() > 2 || std::stoul(text) == 0 ||
        std::stoul(text) > MaxParallel) {
        throw UsageException("The number of parallel requests must be from 1 to " +
                             std::to_string(MaxParallel) + ", not '" + text + "'.");
    }
    return std::stoul(text);
}

std::size_t defaultParallel(Command command) {
    if (command == Command::Train || command == Command::Untrain) return DefaultWriteParallel;
    const std::size_t cores = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(cores, 1, MaxDefaultParallel);
}

std::string parseVersion(const std::string& text) {
    if (text != "1.00" && text != "1.01") {
        throw UsageException("The protocol version must be 1.00 or 1.01, not '" + text + "'.");
    }
    return text;
}

class OptionReader {
public:
    explicit OptionReader(Invocation& invocation) : _invocation(invocation) {}

    // Consumes the option at words[index] (and its value); returns the index of the next word.
    std::size_t read(const std::vector<std::string>& words, std::size_t index) {
        std::string name = words[index];
        std::optional<std::string> value;
        const std::size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "--json" || name == "--help") {
            if (value) throw UsageException("The option " + name + " takes no value.");
            if (name == "--json") _invocation.json = true;
            if (name == "--help") _help = true;
            return index + 1;
        }
        if (name != "--host" && name != "--port" && name != "--version" &&
            name != "--max-request" && name != "--parallel") {
            throw UsageException("Unknown option '" + words[index] + "'.");
        }
        if (!value) {
            if (index + 1 >= words.size()) {
                throw UsageException("The option " + name + " needs a value.");
            }
            value = words[++index];
        }
        if (name == "--host") {
            if (value->empty()) throw UsageException("The host must not be empty.");
            _invocation.host = *value;
        } else if (name == "--port") {
            _invocation.port = parsePort(*value);
            _portGiven = true;
        } else if (name == "--version") {
            _invocation.version = parseVersion(*value);
        } else if (name == "--parallel") {
            _parallel = parseParallel(*value);
        } else {
            _invocation.maxRequestBytes = parseSize(*value);
        }
        return index + 1;
    }

    bool help() const { return _help; }
    bool portGiven() const { return _portGiven; }
    // 0 when not given.
    std::size_t parallel() const { return _parallel; }

private:
    Invocation& _invocation;
    bool _help = false;
    bool _portGiven = false;
    std::size_t _parallel = 0;
};

// Refuses a name that XML 1.0 cannot carry, which would make the request a document the server
// cannot parse: it carries UTF-8 text of tab, line feed, carriage return and the characters from
// U+0020 on, but not the surrogates, U+FFFE and U+FFFF. `what` names the argument; the name is
// shown with '?' for each character refused.
void checkCarried(const char* what, const std::string& name) {
    std::string shown;
    std::string reason;
    for (std::size_t at = 0; at < name.size();) {
        const util::Utf8Character character = util::utf8Character(name, at);
        const std::size_t taken = std::max<std::size_t>(character.length, 1);
        if (character.length != 0 && util::xmlAllows(character.code)) {
            shown.append(name, at, taken);
        } else {
            shown += '?';
            if (reason.empty()) {
                char text[32];
                if (character.length != 0) {
                    std::snprintf(text, sizeof text, "U+%04X",
                                  static_cast<unsigned>(character.code));
                } else {
                    std::snprintf(text, sizeof text, "the byte 0x%02X is no UTF-8",
                                  static_cast<unsigned char>(name[at]));
                }
                reason = text;
            }
        }
        at += taken;
    }
    if (!reason.empty()) {
        throw UsageException(std::string("The ") + what + " '" + shown +
                             "' has a character that a request cannot carry: " + reason + ".");
    }
}

void fill(Invocation& invocation, const std::string& name, const Form& form,
          const std::vector<std::string>& operands) {
    const auto wrongCount = [&] {
        return UsageException("Wrong number of arguments for " + name + ". Usage: quillmark " +
                              form.synopsis);
    };
    std::size_t next = 0;
    if (form.named) {
        if (operands.empty()) throw wrongCount();
        invocation.classifier = operands[next++];
        if (invocation.classifier.empty()) {
            throw UsageException("The classifier name must not be empty.");
        }
    }
    const std::size_t left = operands.size() - next;
    const std::size_t classes = std::min(left, form.maxClasses);
    if (classes < form.minClasses) throw wrongCount();
    invocation.classes.assign(operands.begin() + static_cast<std::ptrdiff_t>(next),
                              operands.begin() + static_cast<std::ptrdiff_t>(next + classes));
    next += classes;
    if (operands.size() - next > form.maxInputs) throw wrongCount();
    invocation.inputs.assign(operands.begin() + static_cast<std::ptrdiff_t>(next), operands.end());
}

}  // namespace

Invocation parseCommandLine(const std::vector<std::string>& words,
                            const VariableLookup& variables) {
    Invocation invocation;
    // QUILLMARK_PORT is checked only when no --port replaces it, so that a stale or wrong value
    // in the environment neither hides the help nor refuses a port given on the command line.
    const char* environmentPort = nullptr;
    if (variables) {
        const char* host = variables("QUILLMARK_HOST");
        if (host != nullptr && *host != '\0') invocation.host = host;
        environmentPort = variables("QUILLMARK_PORT");
    }
    OptionReader options(invocation);
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t index = 0; index < words.size();) {
        const std::string& word = words[index];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            ++index;
        } else if (!optionsEnded && word == "-h") {
            options.read({"--help"}, 0);
            ++index;
        } else if (!optionsEnded && word.size() > 1 && word[0] == '-') {
            index = options.read(words, index);
        } else {
            positional.push_back(word);
            ++index;
        }
    }
    if (options.help()) {
        invocation.command = Command::Help;
        return invocation;
    }
    if (!options.portGiven() && environmentPort != nullptr && *environmentPort != '\0') {
        invocation.port = parsePort(environmentPort);
    }
    if (positional.empty()) throw UsageException("No command given.");
    const auto form = forms().find(positional.front());
    if (form == forms().end()) {
        throw UsageException("Unknown command '" + positional.front() + "'.");
    }
    invocation.command = form->second.command;
    fill(invocation, form->first, form->second,
         std::vector<std::string>(positional.begin() + 1, positional.end()));
    if (form->second.named) checkCarried("classifier name", invocation.classifier);
    for (const std::string& className : invocation.classes) {
        if (className.empty()) throw UsageException("A class name must not be empty.");
        checkCarried("class name", className);
    }
    // A second read of standard input would find it at its end and send an empty text.
    if (std::count(invocation.inputs.begin(), invocation.inputs.end(), "-") > 1) {
        throw UsageException("Standard input ('-') can be read only once.");
    }
    invocation.parallel =
        options.parallel() > 0 ? options.parallel() : defaultParallel(invocation.command);
    return invocation;
}

}  // namespace norvale::quillmark::client
