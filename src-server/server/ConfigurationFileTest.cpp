#include "server/ConfigurationFile.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "exceptions/Exception.h"
#include "io/filesystem/TempFolder.h"
#include "testing/RecordingLog.h"

namespace {

using namespace norvale::quillmark;
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
        if (name == "tail" || value == "-") {
            body += name == "tail" ? value : "";
        } else {
            body += "  <" + name + ">" + value + "</" + name + ">\n";
        }
    }
    return body + "</quillmark>\n";
}

class ConfigurationFileTest : public ::testing::Test {
protected:
    // Every setting read, in one line; or the message of the refusal (its first line) and the
    // number of log entries made before it.
    std::string outcome(const std::string& content, bool testMode = false) {
        _log.clear();
        try {
            const ServerSettings s =
                _reader.load(_folder.write("config.xml", content),
                             std::string(QM_SCHEMA_DIR) + "/config/ConfigSchema.xsd", testMode);
            const auto allows = [&](const char* address) {
                return s.allowedClients.allows(boost::asio::ip::make_address(address)) ? "1" : "0";
            };
            // The log switches are applied before the file is logged as read, an empty element
            // written short.
            EXPECT_EQ((std::vector<std::string>{
                          "setLevel " + std::to_string(s.logLevel),
                          std::string("setLogMemory ") + (s.logMemory ? "on" : "off"),
                          "setFileRotation " + std::to_string(s.logFileMaxBytes) + " " +
                              std::to_string(s.logFileCount),
                          "Log: Using config settings:\n" +
                              std::regex_replace(content, std::regex("<(\\w+)></\\1>"), "<$1/>")}),
                      _log.entries());
            return std::to_string(s.port) + " " + std::to_string(s.maxInput) + " " +
                   std::to_string(s.maxClients) + " " + std::to_string(s.clientQueueSize) + " [" +
                   s.classifierRootPath + "] " + std::to_string(s.logLevel) + " " +
                   std::to_string(s.logMemory) + " " + std::to_string(s.saveRequests) + " | " +
                   std::to_string(s.logFileMaxBytes) + " " + std::to_string(s.logFileCount) +
                   " | [" + s.listenAddress + "] " + allows("10.9.8.7") + allows("11.0.0.1") + " " +
                   std::to_string(s.maxOutput) + " " +
                   (s.metricsPort ? std::to_string(*s.metricsPort) : "-") + " " + s.metricsAddress;
        } catch (const exceptions::Exception& e) {
            const std::string message = e.what();
            return message.substr(0, message.find("\r\n")) + " (" +
                   std::to_string(_log.entries().size()) + " logged)";
        }
    }

    io::filesystem::test::TempFolder _folder;
    norvale::quillmark::testing::RecordingLog _log;
    ConfigurationFile _reader{&_log, &_log};
};

// Flags are "true" in any case or "1"; the level is matched without case; numbers are checked
// against each setting's range and their leading number counts (the schema types every setting
// as text); an empty root is the default one; the later settings are optional. A refused file
// stops the read where the fault is: the schema before anything is logged, a number or level
// before the log switches that follow it. The self test never archives requests nor opens the
// metrics page.
TEST_F(ConfigurationFileTest, ReadsEverySettingOrRefusesWhereTheFaultIs) {
    const std::string open = " | 67108864 8 | [] 11 8388608 - 127.0.0.1";
    const std::string base = "8080 1048576 15 5 [/srv/classifiers] ";
    const std::string validation = "Problems validating the xml document. (0 logged)";
    const auto tooLarge = [](const std::string& number, int logged) {
        return "Error converting [" + number + "] to a number. The number is too large. (" +
               std::to_string(logged) + " logged)";
    };
    const std::pair<Changes, std::string> cases[] = {
        {{{"logMemory", "TRUE"}}, base + "1 1 1" + open},
        {{{"logMemory", "yes"}, {"saveRequests", "tRuE"}, {"logLevel", "Log"}},
         base + "0 0 1" + open},
        {{{"logMemory", " true"}, {"saveRequests", "0"}, {"logLevel", "tEsT"}},
         base + "3 0 0" + open},
        {{{"port", "65535"}, {"classifierRootPath", ""}},
         "65535 1048576 15 5 [./classifiers/] 1 0 1" + open},
        {{{"port", "8080x"},
          {"maxInput", "2147483647"},
          {"maxClients", "-2147483648"},
          {"clientQueueSize", " 12 clients"}},
         "8080 2147483647 -2147483648 12 [/srv/classifiers] 1 0 1 | 67108864 8 | [] 11 "
         "17179869176 - 127.0.0.1"},
        {{{"tail",
           "<logFileMaxBytes>0</logFileMaxBytes><logFileCount>1000</logFileCount>"
           "<listenAddress>::1</listenAddress><allowedClients> 10.0.0.0/8,\n ::1 </allowedClients>"
           "<maxOutput>0</maxOutput><metricsPort>27183</metricsPort>"
           "<metricsAddress>::1</metricsAddress>"}},
         base + "1 0 1 | 0 1000 | [::1] 10 0 27183 ::1"},
        {{{"port", "-"}}, validation},
        {{{"tail", "<logFileCount>2</logFileCount><logFileMaxBytes>9</logFileMaxBytes>"}},
         validation},
        {{{"port", "65536"}}, tooLarge("65536", 0)},
        {{{"port", "-1"}},
         "Error converting [-1] to a number. The number is too small. (0 logged)"},
        {{{"maxInput", "2147483648"}}, tooLarge("2147483648", 0)},
        {{{"logLevel", "warning"}},
         "Couldn't convert the string log level warning to any existing level. (0 logged)"},
        {{{"tail", "<logFileCount>1001</logFileCount>"}}, tooLarge("1001", 2)},
        {{{"tail", "<allowedClients>10.0.0.0/40</allowedClients>"}},
         "'10.0.0.0/40' is not an IPv4 or IPv6 address or network (address/prefix). (3 logged)"},
    };
    for (const auto& [changes, expected] : cases) {
        SCOPED_TRACE(document(changes));
        EXPECT_EQ(expected, outcome(document(changes)));
    }
    EXPECT_EQ(
        base + "1 0 0" + open,
        outcome(document({{"saveRequests", "true"}, {"tail", "<metricsPort>27183</metricsPort>"}}),
                true));
}

}  // namespace
