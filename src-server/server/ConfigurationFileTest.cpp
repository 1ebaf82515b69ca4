#include "server/ConfigurationFile.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "exceptions/Exception.h"
#include "io/filesystem/TempFolder.h"
#include "testing/MessageOf.h"
#include "testing/RecordingLog.h"

namespace {

using namespace norvale::quillmark;
using norvale::quillmark::testing::messageOf;
using norvale::quillmark::testing::RecordingLog;
using Changes = std::vector<std::pair<std::string, std::string>>;

// A configuration file: the eight settings in their order with valid values, `changes` replacing
// some of them (a value of "-" leaves the setting out); a change of "tail" is written after them.
std::string document(const Changes& changes) {
    Changes settings = {{"port", "8080"},
                        {"maxInput", "1048576"},
                        {"maxClients", "15"},
                        {"clientQueueSize", "5"},
                        {"classifierRootPath", "/srv/classifiers"},
                        {"logLevel", "error"},
                        {"logMemory", "false"},
                        {"saveRequests", "1"},
                        {"tail", ""}};
    std::string body =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quillmark xmlns=\""
        "http://quillmark.invalid/1/config/ConfigSchema\">\n";
    for (auto& [name, value] : settings) {
        for (const auto& [changed, to] : changes) value = changed == name ? to : value;
        if (name == "tail")
            body += value;
        else if (value != "-")
            body += "  <" + name + ">" + value + "</" + name + ">\n";
    }
    return body + "</quillmark>\n";
}

// Every setting read, in one line.
std::string summary(const ServerSettings& s) {
    const auto allows = [&](const char* address) {
        return s.allowedClients.allows(boost::asio::ip::make_address(address)) ? "1" : "0";
    };
    return std::to_string(s.port) + " " + std::to_string(s.maxInput) + " " +
           std::to_string(s.maxClients) + " " + std::to_string(s.clientQueueSize) + " [" +
           s.classifierRootPath + "] " + std::to_string(s.logLevel) + " " +
           std::to_string(s.logMemory) + " " + std::to_string(s.saveRequests) + " | " +
           std::to_string(s.logFileMaxBytes) + " " + std::to_string(s.logFileCount) + " | [" +
           s.listenAddress + "] " + allows("10.9.8.7") + allows("11.0.0.1") + " " +
           std::to_string(s.maxOutput) + " " +
           (s.metricsPort ? std::to_string(*s.metricsPort) : "-") + " " + s.metricsAddress;
}

class ConfigurationFileTest : public ::testing::Test {
protected:
    ServerSettings load(const std::string& content, bool testMode = false) {
        _log.clear();
        return _reader.load(_folder.write("config.xml", content),
                            std::string(QM_SCHEMA_DIR) + "/config/ConfigSchema.xsd", testMode);
    }

    io::filesystem::test::TempFolder _folder;
    RecordingLog _log;
    ConfigurationFile _reader{&_log, &_log};
};

// Flags are "true" in any case or "1"; the level is matched without case; numbers are range
// checked and their leading number counts (the schema types every setting as text); an empty
// root is the default one; the later settings are optional; the self test never archives
// requests nor opens the metrics page. The log switches are applied before the file is logged.
TEST_F(ConfigurationFileTest, ReadsEverySettingAndAppliesTheLogSwitches) {
    const std::string base = "8080 1048576 15 5 [/srv/classifiers] ";
    const std::string open = " | 67108864 8 | [] 11 8388608 - 127.0.0.1";
    const std::pair<Changes, std::string> cases[] = {
        {{{"logMemory", "TRUE"}}, base + "1 1 1" + open},
        {{{"logMemory", "1"}, {"saveRequests", "tRuE"}, {"logLevel", "Log"}},
         base + "0 1 1" + open},
        {{{"logMemory", "yes"}, {"saveRequests", "0"}, {"logLevel", "failure"}},
         base + "2 0 0" + open},
        {{{"logMemory", " true"}, {"saveRequests", "1 "}, {"logLevel", "tEsT"}},
         base + "3 0 0" + open},
        {{{"logMemory", "on"}, {"saveRequests", ""}}, base + "1 0 0" + open},
        {{{"port", "0"}, {"classifierRootPath", ""}},
         "0 1048576 15 5 [./classifiers/] 1 0 1" + open},
        {{{"port", "65535"}, {"classifierRootPath", " "}}, "65535 1048576 15 5 [ ] 1 0 1" + open},
        {{{"port", "8080x"},
          {"maxInput", "2147483647"},
          {"maxClients", "-2147483648"},
          {"clientQueueSize", " 12 clients"}},
         "8080 2147483647 -2147483648 12 [/srv/classifiers] 1 0 1 | 67108864 8 | [] 11 "
         "17179869176 - 127.0.0.1"},
        {{{"tail", "<logFileMaxBytes>1000</logFileMaxBytes>"}},
         base + "1 0 1 | 1000 8 | [] 11 8388608 - 127.0.0.1"},
        {{{"tail", "<logFileCount>0</logFileCount>"}},
         base + "1 0 1 | 67108864 0 | [] 11 8388608 - 127.0.0.1"},
        {{{"tail",
           "<logFileMaxBytes>0</logFileMaxBytes><logFileCount>1000</logFileCount>"
           "<listenAddress>::1</listenAddress><allowedClients> 10.0.0.0/8,\n ::1 </allowedClients>"
           "<maxOutput>0</maxOutput><metricsPort>27183</metricsPort>"
           "<metricsAddress>::1</metricsAddress>"}},
         base + "1 0 1 | 0 1000 | [::1] 10 0 27183 ::1"},
    };
    for (const auto& [changes, expected] : cases) {
        const std::string text = document(changes);
        SCOPED_TRACE(text);
        const ServerSettings settings = load(text);
        EXPECT_EQ(expected, summary(settings));
        const auto entries = _log.entries();
        ASSERT_EQ(4u, entries.size());
        EXPECT_EQ("setLevel " + std::to_string(settings.logLevel), entries[0]);
        EXPECT_EQ(std::string("setLogMemory ") + (settings.logMemory ? "on" : "off"), entries[1]);
        EXPECT_EQ("setFileRotation " + std::to_string(settings.logFileMaxBytes) + " " +
                      std::to_string(settings.logFileCount),
                  entries[2]);
        // The document as read, an empty element written short.
        EXPECT_EQ("Log: Using config settings:\n" +
                      std::regex_replace(text, std::regex("<(\\w+)></\\1>"), "<$1/>"),
                  entries[3]);
    }
    EXPECT_EQ(base + "1 0 0" + open,
              summary(load(document({{"saveRequests", "true"},
                                     {"tail", "<metricsPort>27183</metricsPort>"}}),
                           true)));
}

// A refused file stops the read where the fault is: a file the schema refuses (a setting
// missing, out of order, or the optional ones out of theirs) leaves the log untouched, and so
// does a bad number or level before the log switches.
TEST_F(ConfigurationFileTest, RefusesBadFilesWithTheMessageOfTheLayerThatFoundIt) {
    const std::string validation = "Problems validating the xml document.\r\n";
    const std::string large = "] to a number. The number is too large.";
    const std::string small = "] to a number. The number is too small.";
    const struct {
        Changes changes;
        std::string message;
        std::size_t logged;
    } cases[] = {
        {{{"port", "-"}}, validation, 0},
        {{{"port", "-"}, {"tail", "<port>8080</port>"}}, validation, 0},
        {{{"tail", "<logFileCount>2</logFileCount><logFileMaxBytes>9</logFileMaxBytes>"}},
         validation,
         0},
        {{{"port", "65536"}}, "Error converting [65536" + large, 0},
        {{{"port", "-1"}}, "Error converting [-1" + small, 0},
        {{{"maxInput", "2147483648"}}, "Error converting [2147483648" + large, 0},
        {{{"maxClients", "-2147483649"}}, "Error converting [-2147483649" + small, 0},
        {{{"logLevel", "warning"}},
         "Couldn't convert the string log level warning to any existing level.",
         0},
        {{{"tail", "<logFileCount>1001</logFileCount>"}}, "Error converting [1001" + large, 2},
        {{{"tail", "<logFileMaxBytes>-1</logFileMaxBytes>"}}, "Error converting [-1" + small, 2},
        {{{"tail", "<allowedClients>10.0.0.0/40</allowedClients>"}},
         "'10.0.0.0/40' is not an IPv4 or IPv6 address or network (address/prefix).",
         3},
    };
    for (const auto& row : cases) {
        const std::string text = document(row.changes);
        SCOPED_TRACE(text);
        const std::string message = messageOf<exceptions::Exception>([&] { load(text); });
        EXPECT_EQ(row.message, message.substr(0, row.message.size()));
        EXPECT_EQ(row.logged, _log.entries().size());
    }
}

}  // namespace
