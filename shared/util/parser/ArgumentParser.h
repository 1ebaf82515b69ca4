#pragma once

// Command-line parser: flags are words that start with the prefix character, arguments are the
// words that follow a flag. The caller defines the allowed flags with their argument counts, then
// parses once; every rule violation throws IllegalArgumentException with a message meant for the
// user. Not thread-safe; used by the start-up code on the main thread.

#include <map>
#include <string>
#include <vector>

#include "exceptions/Exception.h"

namespace util::parser {

class RuntimeException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class IllegalArgumentException : public RuntimeException {
public:
    using RuntimeException::RuntimeException;
};

class ArgumentParser {
public:
    explicit ArgumentParser(char flagPrefix);

    // `name` includes the prefix ("-config").
    void addFlag(const std::string& name, int minArguments, int maxArguments, bool optional);

    // The words after the program name. Forgets the result of an earlier parse.
    void parse(int count, const char* const* arguments);
    void parse(const std::vector<std::string>& arguments);

    bool isParsed(const std::string& name) const;

    // The one argument of a parsed flag (the server's "-config" file name).
    const std::string& getArgument(const std::string& name) const;

private:
    struct FlagDefinition {
        int minArguments;
        int maxArguments;
        bool optional;
    };

    void readWords(const std::vector<std::string>& words);
    void checkDefinitions() const;
    const std::vector<std::string>& parsedArguments(const std::string& name) const;

    char _prefix;
    std::map<std::string, FlagDefinition> _definitions;
    std::map<std::string, std::vector<std::string>> _parsed;
};

}  // namespace util::parser
