#include "util/parser/ArgumentParser.h"

#include <utility>

namespace util::parser {

ArgumentParser::ArgumentParser(char flagPrefix) : _prefix(flagPrefix) {}

void ArgumentParser::addFlag(const std::string& name, int minArguments, int maxArguments,
                             bool optional) {
    if (_definitions.contains(name)) {
        throw IllegalArgumentException("The flag " + name + " has been previosly specified");
    }
    if (maxArguments < minArguments) {
        throw IllegalArgumentException("[max] must be bigger or equal to [min]");
    }
    _definitions.emplace(name, FlagDefinition{minArguments, maxArguments, optional});
}

void ArgumentParser::parse(int count, const char* const* arguments) {
    std::vector<std::string> words;
    for (int i = 0; i < count; ++i) words.emplace_back(arguments[i]);
    parse(words);
}

void ArgumentParser::parse(const std::vector<std::string>& arguments) {
    _parsed.clear();
    readWords(arguments);
    checkDefinitions();
}

void ArgumentParser::readWords(const std::vector<std::string>& words) {
    std::vector<std::string>* current = nullptr;
    for (const std::string& word : words) {
        if (word.empty()) {
            throw IllegalArgumentException("The empty string is not a flag or an argument.");
        }
        if (word.front() == _prefix) {
            if (!_definitions.contains(word)) {
                throw IllegalArgumentException("The flag " + word + " is not allowed");
            }
            auto [entry, inserted] = _parsed.emplace(word, std::vector<std::string>());
            if (!inserted) {
                throw IllegalArgumentException("The flag " + word + " was used more than once.");
            }
            current = &entry->second;
        } else {
            if (current == nullptr) {
                throw IllegalArgumentException("The argument line should start with a flag");
            }
            current->push_back(word);
        }
    }
}

// The definitions map is ordered by name, so the first offending flag in name order is reported.
void ArgumentParser::checkDefinitions() const {
    for (const auto& [name, definition] : _definitions) {
        const auto parsed = _parsed.find(name);
        if (parsed == _parsed.end()) {
            if (!definition.optional) {
                throw IllegalArgumentException("The non optional flag " + name + " was not found.");
            }
            continue;
        }
        const auto count = static_cast<long long>(parsed->second.size());
        if (count < definition.minArguments) {
            throw IllegalArgumentException("Not enough arguments for the flag " + name + ". " +
                                           std::to_string(definition.minArguments) +
                                           " is required.");
        }
        if (count > definition.maxArguments) {
            if (definition.maxArguments == 0) {
                throw IllegalArgumentException("No arguments for the flag " + name +
                                               " are allowed");
            }
            throw IllegalArgumentException(
                "Too many arguments for the flag " + name + ". No more than " +
                std::to_string(definition.maxArguments) + " arguments allowed");
        }
    }
}

bool ArgumentParser::isParsed(const std::string& name) const {
    return _parsed.contains(name);
}

const std::string& ArgumentParser::getArgument(const std::string& name) const {
    const std::vector<std::string>& arguments = parsedArguments(name);
    if (arguments.size() != 1) {
        throw IllegalArgumentException("The flag: " + name + " has multiple arguments.");
    }
    return arguments.front();
}

const std::vector<std::string>& ArgumentParser::parsedArguments(const std::string& name) const {
    const auto parsed = _parsed.find(name);
    if (parsed == _parsed.end()) {
        throw IllegalArgumentException("The flag: " + name + " was not parsed");
    }
    return parsed->second;
}

}  // namespace util::parser
