#include "client/CommandLine.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace norvale::quillmark::client {
namespace {

std::string usageError(const std::vector<std::string>& words,
                       const VariableLookup& variables = nullptr) {
    try {
        parseCommandLine(words, variables);
    } catch (const UsageException& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(CommandLineTest, DefaultsAndOptionsInAnyPositionAndForm) {
    const Invocation plain = parseCommandLine({"info", "news"});
    EXPECT_EQ(plain.command, Command::Info);
    EXPECT_EQ(plain.classifier, "news");
    EXPECT_EQ(plain.host, "localhost");
    EXPECT_EQ(plain.port, DefaultPort);
    EXPECT_NE(std::string(UsageText).find("else " + std::to_string(DefaultPort) + ")"),
              std::string::npos);
    EXPECT_FALSE(plain.json);
    EXPECT_EQ(plain.version, "1.01");
    EXPECT_EQ(plain.maxRequestBytes, DefaultMaxRequestBytes);

    const Invocation mixed = parseCommandLine(
        {"--json", "train", "--host=example.org", "news", "--port", "9000", "sport", "a.txt",
         "--version=1.00", "--max-request", "64K", "-", "--", "--odd-name.txt"});
    EXPECT_EQ(mixed.command, Command::Train);
    EXPECT_TRUE(mixed.json);
    EXPECT_EQ(mixed.host, "example.org");
    EXPECT_EQ(mixed.port, 9000);
    EXPECT_EQ(mixed.version, "1.00");
    EXPECT_EQ(mixed.maxRequestBytes, 64u * 1024);
    EXPECT_EQ(mixed.classes, std::vector<std::string>{"sport"});
    EXPECT_EQ(mixed.inputs, (std::vector<std::string>{"a.txt", "-", "--odd-name.txt"}));

    EXPECT_EQ(parseCommandLine({"classify", "news", "--max-request=2m"}).maxRequestBytes,
              2u * 1024 * 1024);
    EXPECT_EQ(parseCommandLine({"--help"}).command, Command::Help);
    EXPECT_EQ(parseCommandLine({"create", "x", "-h"}).command, Command::Help);

    // Writes go one at a time unless asked; reads use the cores, at most eight.
    EXPECT_EQ(mixed.parallel, DefaultWriteParallel);
    const std::size_t reads = parseCommandLine({"keywords", "news"}).parallel;
    EXPECT_GE(reads, 1u);
    EXPECT_LE(reads, MaxDefaultParallel);
    EXPECT_EQ(parseCommandLine({"train", "n", "c", "--parallel=64"}).parallel, 64u);
    EXPECT_EQ(parseCommandLine({"--parallel", "3", "classify", "n"}).parallel, 3u);
}

TEST(CommandLineTest, EnvironmentVariablesReplaceTheDefaultsAndOptionsReplaceThem) {
    std::map<std::string, std::string> set = {{"QUILLMARK_HOST", "db.example"},
                                              {"QUILLMARK_PORT", "4000"}};
    const VariableLookup variables = [&set](const char* name) -> const char* {
        const auto found = set.find(name);
        return found == set.end() ? nullptr : found->second.c_str();
    };
    const Invocation fromVariables = parseCommandLine({"info", "x"}, variables);
    EXPECT_EQ(fromVariables.host, "db.example");
    EXPECT_EQ(fromVariables.port, 4000);
    const Invocation fromOptions =
        parseCommandLine({"info", "x", "--port", "5000", "--host", "h"}, variables);
    EXPECT_EQ(fromOptions.host, "h");
    EXPECT_EQ(fromOptions.port, 5000);

    set["QUILLMARK_PORT"] = "";
    EXPECT_EQ(parseCommandLine({"info", "x"}, variables).port, DefaultPort);
    set["QUILLMARK_PORT"] = "http";
    EXPECT_EQ(usageError({"info", "x"}, variables),
              "The port must be a number from 1 to 65535, not 'http'.");
}

TEST(CommandLineTest, WordsThatDoNotFitAreRefusedWithASentence) {
    EXPECT_EQ(usageError({}), "No command given.");
    EXPECT_EQ(usageError({"learn", "x"}), "Unknown command 'learn'.");
    for (const auto& [words, usage] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"create"}, "create NAME"},
             {{"create", "a", "b"}, "create NAME"},
             {{"add-class", "news"}, "add-class NAME CLASS..."},
             {{"remove-class", "news", "a", "b"}, "remove-class NAME CLASS"},
             {{"train", "news"}, "train NAME CLASS [FILE...|-]"},
             {{"send", "a", "b"}, "send [FILE|-]"}}) {
        EXPECT_EQ(usageError(words),
                  "Wrong number of arguments for " + words.front() + ". Usage: quillmark " + usage);
    }
    EXPECT_EQ(usageError({"create", ""}), "The classifier name must not be empty.");
    EXPECT_EQ(usageError({"add-class", "news", ""}), "A class name must not be empty.");

    EXPECT_EQ(usageError({"--colour", "info", "x"}), "Unknown option '--colour'.");
    EXPECT_EQ(usageError({"info", "x", "--port"}), "The option --port needs a value.");
    EXPECT_EQ(usageError({"--json=yes", "info", "x"}), "The option --json takes no value.");
    EXPECT_EQ(usageError({"--host=", "info", "x"}), "The host must not be empty.");
    for (const char* port : {"0", "65536", "80x", "-1", "", "123456"}) {
        EXPECT_EQ(usageError({"--port", port, "info", "x"}),
                  std::string("The port must be a number from 1 to 65535, not '") + port + "'.");
    }
    EXPECT_EQ(parseCommandLine({"--port", "65535", "info", "x"}).port, 65535);
    EXPECT_EQ(parseCommandLine({"--version", "1.01", "info", "x"}).version, "1.01");
    for (const char* version : {"2.00", "1.0", "1.010"}) {
        EXPECT_EQ(usageError({"--version", version, "info", "x"}),
                  std::string("The protocol version must be 1.00 or 1.01, not '") + version + "'.");
    }
    for (const char* size : {"0", "K", "12Q", "2048M", "-5"}) {
        EXPECT_NE(usageError({"--max-request", size, "info", "x"}).find("The request size must"),
                  std::string::npos)
            << size;
    }
    for (const char* parallel : {"0", "65", "2x", "", "-1"}) {
        EXPECT_EQ(usageError({"--parallel", parallel, "info", "x"}),
                  std::string("The number of parallel requests must be from 1 to 64, not '") +
                      parallel + "'.")
            << parallel;
    }
}

}  // namespace
}  // namespace norvale::quillmark::client
