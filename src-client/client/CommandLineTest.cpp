#include "client/CommandLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace norvale::quillmark::client {
namespace {

// What was read, in one line: command number, classifier, [classes], [inputs], host:port, json,
// version, request size and parallel requests; or the sentence that refused the words.
std::string readOf(const std::vector<std::string>& words,
                   const std::map<std::string, std::string>& environment = {}) {
    const VariableLookup variables = [&environment](const char* name) -> const char* {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    };
    try {
        const Invocation i = parseCommandLine(words, variables);
        std::ostringstream out;
        out << static_cast<int>(i.command) << " " << i.classifier << " [";
        for (const std::string& name : i.classes) out << name << ";";
        out << "] [";
        for (const std::string& input : i.inputs) out << input << ";";
        out << "] " << i.host << ":" << i.port << (i.json ? " json " : " text ") << i.version << " "
            << i.maxRequestBytes << " " << i.parallel;
        return out.str();
    } catch (const UsageException& e) {
        return e.what();
    }
}

TEST(CommandLineTest, WordsAreReadOrRefusedWithASentence) {
    // Training goes one request at a time unless asked; the others use the cores, at most eight.
    const std::string reads =
        std::to_string(std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8));
    const std::map<std::string, std::string> variables = {{"QUILLMARK_HOST", "db.example"},
                                                          {"QUILLMARK_PORT", "4000"}};
    const std::string portError = "The port must be a number from 1 to 65535, not '";
    const std::string versionError = "The protocol version must be 1.00 or 1.01, not '";
    const std::string parallelError = "The number of parallel requests must be from 1 to 64, not '";
    // The sentence for a command given the wrong number of words, from its usage line.
    const auto arity = [](const std::string& usage) {
        return "Wrong number of arguments for " + usage.substr(0, usage.find(' ')) +
               ". Usage: quillmark " + usage;
    };
    const struct {
        std::vector<std::string> words;
        std::string expected;
        std::map<std::string, std::string> environment = {};
    } cases[] = {
        {{"info", "news"}, "8 news [] [] localhost:27182 text 1.01 1048576 " + reads},
        {{"--json", "train", "--host=example.org", "news", "--port", "9000", "sport", "a.txt",
          "--version=1.00", "--max-request", "64K", "-", "--", "--odd-name.txt"},
         "4 news [sport;] [a.txt;-;--odd-name.txt;] example.org:9000 json 1.00 65536 1"},
        {{"classify", "n", "--max-request=2m", "--parallel=64"},
         "6 n [] [] localhost:27182 text 1.01 2097152 64"},
        {{"--parallel", "3", "--port", "65535", "add-class", "n", "a", "b"},
         "2 n [a;b;] [] localhost:65535 text 1.01 1048576 3"},
        {{"create", "x", "-h"}, "10  [] [] localhost:27182 text 1.01 1048576 1"},
        // Environment variables replace the defaults, options replace them.
        {{"untrain", "x", "c"}, "5 x [c;] [] db.example:4000 text 1.01 1048576 1", variables},
        {{"remove", "x", "--port", "5000", "--host", "h", "--version", "1.01"},
         "1 x [] [] h:5000 text 1.01 1048576 " + reads,
         variables},
        {{"send"}, "9  [] [] localhost:27182 text 1.01 1048576 " + reads, {{"QUILLMARK_PORT", ""}}},
        {{"info", "x"}, portError + "http'.", {{"QUILLMARK_PORT", "http"}}},
        {{"info", "x", "--port=80"},
         "8 x [] [] localhost:80 text 1.01 1048576 " + reads,
         {{"QUILLMARK_PORT", "http"}}},
        {{"--help"}, "10  [] [] localhost:27182 text 1.01 1048576 1", {{"QUILLMARK_PORT", "http"}}},
        {{}, "No command given."},
        {{"learn", "x"}, "Unknown command 'learn'."},
        {{"create"}, arity("create NAME")},
        {{"create", "a", "b"}, arity("create NAME")},
        {{"add-class", "news"}, arity("add-class NAME CLASS...")},
        {{"remove-class", "news", "a", "b"}, arity("remove-class NAME CLASS")},
        {{"train", "news"}, arity("train NAME CLASS [FILE...|-]")},
        {{"send", "a", "b"}, arity("send [FILE|-]")},
        {{"create", ""}, "The classifier name must not be empty."},
        {{"add-class", "news", ""}, "A class name must not be empty."},
        {{"classify", "t", "-", "x", "-"}, "Standard input ('-') can be read only once."},
        // Names are refused when XML 1.0 cannot carry them, never for a character it can.
        {{"add-class", "n", "a\tb", "\x7f", "k\xc3\xb6ttbullar", "\xf0\x9f\x98\x80"},
         "2 n [a\tb;\x7f;k\xc3\xb6ttbullar;\xf0\x9f\x98\x80;] [] localhost:27182 text 1.01 "
         "1048576 " +
             reads},
        {{"train", "n", "a\001b\037"},
         "The class name 'a?b?' has a character that a request cannot carry: U+0001."},
        {{"info", "n\xef\xbf\xbe"},
         "The classifier name 'n?' has a character that a request cannot carry: U+FFFE."},
        {{"remove-class", "n", "a\xe0\x80\xafz"},
         "The class name 'a???z' has a character that a request cannot carry: the byte 0xE0 is "
         "no UTF-8."},
        {{"--colour", "info", "x"}, "Unknown option '--colour'."},
        {{"info", "x", "--port"}, "The option --port needs a value."},
        {{"--json=yes", "info", "x"}, "The option --json takes no value."},
        {{"--host=", "info", "x"}, "The host must not be empty."},
        {{"--port", "0", "info", "x"}, portError + "0'."},
        {{"--port", "65536", "info", "x"}, portError + "65536'."},
        {{"--port", "80x", "info", "x"}, portError + "80x'."},
        {{"--version", "2.00", "info", "x"}, versionError + "2.00'."},
        {{"--version", "1.010", "info", "x"}, versionError + "1.010'."},
        {{"--parallel", "0", "info", "x"}, parallelError + "0'."},
        {{"--parallel", "65", "info", "x"}, parallelError + "65'."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words.empty() ? "" : c.words.front());
        EXPECT_EQ(c.expected, readOf(c.words, c.environment));
    }
    for (const char* size : {"0", "K", "12Q", "2048M", "-5"}) {
        EXPECT_EQ(0u, readOf({"--max-request", size, "info", "x"}).find("The request size must"))
            << size;
    }
    // The usage text names the default port.
    EXPECT_NE(std::string(UsageText).find("else 27182)"), std::string::npos);
}

}  // namespace
}  // namespace norvale::quillmark::client
