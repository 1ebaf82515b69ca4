#include "server/ConfigurationFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "io/filesystem/TempFolder.h"
#include "net/socket/SocketExceptions.h"
#include "server/LogLevel.h"
#include "testing/RecordingLog.h"
#include "util/NumberParser.h"
#include "xml/XMLExceptions.h"
#include "testing/MessageOf.h"

namespace {

using namespace norvale::quillmark;
using norvale::quillmark::testing::RecordingLog;
using norvale::quillmark::testing::messageOf;

const std::string SchemaPath = std::string(QM_SCHEMA_DIR) + "/config/ConfigSchema.xsd";
const std::string Namespace = "http://quillmark.invalid/1/config/ConfigSchema";

constexpr std::size_t Port = 0, MaxInput = 1, MaxClients = 2, ClientQueueSize = 3, RootPath = 4,
                      Level = 5, Memory = 6, SaveRequests = 7;
const std::array<const char*, 8> Names = {"port",     "maxInput",           "maxClients",
                                          "clientQueueSize", "classifierRootPath", "logLevel",
                                          "logMemory", "saveRequests"};

// The eight settings as text, a valid file by default.
struct Values {
    std::array<std::string, 8> text = {"8080", "1048576", "15", "5", "/srv/classifiers",
                                       "error",  "false",   "1"};
    Values& with(std::size_t index, std::string value) {
        text[index] = std::move(value);
        return *this;
    }
};

std::string document(const Values& values, std::size_t skip = Names.size()) {
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quillmark xmlns=\"" +
                       Namespace + "\">\n";
    for (std::size_t i = 0; i < Names.size(); ++i) {
        if (i == skip) continue;
        body += "  <" + std::string(Names[i]) + ">" + values.text[i] + "</" + Names[i] + ">\n";
    }
    return body + "</quillmark>\n";
}

class ConfigurationFileTest : public ::testing::Test {
protected:
    ServerSettings load(const std::string& content, bool testMode = false) {
        return _reader.load(_folder.write("config.xml", content), SchemaPath, testMode);
    }
    ServerSettings load(const Values& values) { return load(document(values)); }

    template <typename E>
    std::string failure(const std::string& content) {
        return messageOf<E>([&] { load(content); });
    }

    io::filesystem::test::TempFolder _folder;
    RecordingLog _log;
    ConfigurationFile _reader{&_log, &_log};
};

TEST_F(ConfigurationFileTest, ReadsEverySettingAndAppliesTheLogSwitchesBeforeLoggingTheFile) {
    const ServerSettings settings = load(Values().with(Memory, "TRUE"));
    EXPECT_EQ(8080, settings.port);
    EXPECT_EQ(1048576, settings.maxInput);
    EXPECT_EQ(15, settings.maxClients);
    EXPECT_EQ(5, settings.clientQueueSize);
    EXPECT_EQ("/srv/classifiers", settings.classifierRootPath);
    EXPECT_EQ(loglevel::Error, settings.logLevel);
    EXPECT_TRUE(settings.logMemory);
    EXPECT_TRUE(settings.saveRequests);

    const auto entries = _log.entries();
    ASSERT_EQ(4u, entries.size());
    EXPECT_EQ("setLevel 1", entries[0]);
    EXPECT_EQ("setLogMemory on", entries[1]);
    EXPECT_EQ("setFileRotation 67108864 8", entries[2]);
    EXPECT_EQ(0u, entries[3].find("Log: Using config settings:\n<?xml version=\"1.0\""));
    EXPECT_NE(std::string::npos, entries[3].find("<logMemory>TRUE</logMemory>"));
}

// The bounds of the log file may be left out (files written before they existed); given, they
// are range-checked like the other numbers and must come last, in their order.
TEST_F(ConfigurationFileTest, LogFileBoundsAreOptionalAndChecked) {
    const auto withBounds = [](const std::string& bounds) {
        std::string text = document(Values());
        return text.insert(text.find("</quillmark>"), bounds);
    };
    const struct {
        std::string bounds;
        std::uint64_t maxBytes;
        int count;
    } accepted[] = {
        {"", 67108864, 8},
        {"<logFileMaxBytes>1000</logFileMaxBytes>", 1000, 8},
        {"<logFileCount>0</logFileCount>", 67108864, 0},
        {"<logFileMaxBytes>0</logFileMaxBytes><logFileCount>1000</logFileCount>", 0, 1000},
    };
    for (const auto& [bounds, maxBytes, count] : accepted) {
        _log.clear();
        const ServerSettings settings = load(withBounds(bounds));
        EXPECT_EQ(maxBytes, settings.logFileMaxBytes) << bounds;
        EXPECT_EQ(count, settings.logFileCount) << bounds;
        EXPECT_EQ("setFileRotation " + std::to_string(maxBytes) + " " + std::to_string(count),
                  _log.entries().at(2));
    }
    EXPECT_EQ(
        "Error converting [1001] to a number. The number is too large.",
        failure<util::NumberFormatException>(withBounds("<logFileCount>1001</logFileCount>")));
    EXPECT_EQ(
        "Error converting [-1] to a number. The number is too small.",
        failure<util::NumberFormatException>(withBounds("<logFileMaxBytes>-1</logFileMaxBytes>")));
    EXPECT_EQ(0u,
              failure<xml::ValidateException>(
                  withBounds("<logFileCount>2</logFileCount><logFileMaxBytes>9</logFileMaxBytes>"))
                  .find("Problems validating the xml document.\r\n"));
}

// Who may connect, the answer bound and the metrics page came later still: optional, after the
// log bounds; the self test never opens the metrics page.
TEST_F(ConfigurationFileTest, AccessAnswerBoundAndMetricsAreOptional) {
    const auto withAccess = [](const std::string& access) {
        std::string text = document(Values());
        return text.insert(text.find("</quillmark>"), access);
    };
    const ServerSettings open = load(withAccess(""));
    EXPECT_EQ("", open.listenAddress);
    EXPECT_TRUE(open.allowedClients.empty());
    EXPECT_EQ(8u * 1048576, open.maxOutput);  // eight times maxInput
    EXPECT_FALSE(open.metricsPort.has_value());
    EXPECT_EQ("127.0.0.1", open.metricsAddress);

    const ServerSettings closed = load(withAccess(
        "<logFileCount>8</logFileCount><listenAddress>::1</listenAddress>"
        "<allowedClients> 10.0.0.0/8,\n ::1 </allowedClients><maxOutput>0</maxOutput>"
        "<metricsPort>27183</metricsPort><metricsAddress>::1</metricsAddress>"));
    EXPECT_EQ("::1", closed.listenAddress);
    EXPECT_TRUE(closed.allowedClients.allows(boost::asio::ip::make_address("10.9.8.7")));
    EXPECT_FALSE(closed.allowedClients.allows(boost::asio::ip::make_address("11.0.0.1")));
    EXPECT_EQ(0u, closed.maxOutput);
    EXPECT_EQ(27183, closed.metricsPort.value_or(0));
    EXPECT_EQ("::1", closed.metricsAddress);
    EXPECT_FALSE(load(withAccess("<metricsPort>27183</metricsPort>"), true).metricsPort);

    EXPECT_EQ("'10.0.0.0/40' is not an IPv4 or IPv6 address or network (address/prefix).",
              failure<net::socket::PreconditionException>(
                  withAccess("<allowedClients>10.0.0.0/40</allowedClients>")));
}

TEST_F(ConfigurationFileTest, LogLevelIsMatchedWithoutCaseAndUnknownLevelsAreRejected) {
    EXPECT_EQ(loglevel::Log, load(Values().with(Level, "Log")).logLevel);
    EXPECT_EQ(loglevel::Failure, load(Values().with(Level, "failure")).logLevel);
    EXPECT_EQ(loglevel::Test, load(Values().with(Level, "tEsT")).logLevel);

    const std::size_t before = _log.entries().size();
    EXPECT_EQ("Couldn't convert the string log level warning to any existing level.",
              failure<LogLevelException>(document(Values().with(Level, "warning"))));
    // Nothing was applied to the log by the failed read.
    EXPECT_EQ(before, _log.entries().size());
}

TEST_F(ConfigurationFileTest, FlagsAreOnlyTrueOrOneInAnyCase) {
    for (const char* on : {"True", "true", "TRUE", "1"}) {
        EXPECT_TRUE(load(Values().with(Memory, on)).logMemory) << on;
        EXPECT_TRUE(load(Values().with(SaveRequests, on)).saveRequests) << on;
    }
    for (const char* off : {"yes", "0", "", " true", "1 ", "on"}) {
        EXPECT_FALSE(load(Values().with(Memory, off)).logMemory) << off;
        EXPECT_FALSE(load(Values().with(SaveRequests, off)).saveRequests) << off;
    }
}

TEST_F(ConfigurationFileTest, TestModeNeverArchivesRequestsAndAnEmptyRootIsTheDefault) {
    const ServerSettings settings = load(document(Values().with(SaveRequests, "true")), true);
    EXPECT_FALSE(settings.saveRequests);
    EXPECT_EQ(8080, settings.port);
    EXPECT_EQ("./classifiers/", load(Values().with(RootPath, "")).classifierRootPath);
    EXPECT_EQ(" ", load(Values().with(RootPath, " ")).classifierRootPath);
}

// The port is 0..65535, the counts signed 32-bit. The schema types every setting as plain text,
// so a number with trailing characters reaches the number parser, which takes its leading number.
TEST_F(ConfigurationFileTest, NumbersAreRangeCheckedAndTheLeadingNumberCounts) {
    EXPECT_EQ(0, load(Values().with(Port, "0")).port);
    EXPECT_EQ(65535, load(Values().with(Port, "65535")).port);
    EXPECT_EQ(8080, load(Values().with(Port, "8080x")).port);
    const ServerSettings settings = load(Values()
                                             .with(MaxInput, "2147483647")
                                             .with(MaxClients, "-2147483648")
                                             .with(ClientQueueSize, " 12 clients"));
    EXPECT_EQ(2147483647, settings.maxInput);
    EXPECT_EQ(-2147483647 - 1, settings.maxClients);
    EXPECT_EQ(12, settings.clientQueueSize);

    const std::string large = "] to a number. The number is too large.";
    const std::string small = "] to a number. The number is too small.";
    const struct {
        std::size_t setting;
        std::string value;
        std::string message;
    } refused[] = {
        {Port, "65536", "Error converting [65536" + large},
        {Port, "-1", "Error converting [-1" + small},
        {MaxInput, "2147483648", "Error converting [2147483648" + large},
        {MaxClients, "-2147483649", "Error converting [-2147483649" + small},
    };
    for (const auto& [setting, value, message] : refused) {
        EXPECT_EQ(message, failure<util::NumberFormatException>(
                               document(Values().with(setting, value))));
    }
}

TEST_F(ConfigurationFileTest, EachSettingMustAppearExactlyOnceAndInOrder) {
    // The schema is checked before any value is read, so a missing or misplaced setting is
    // refused by the validator and the log is never touched.
    const std::string missing = failure<xml::ValidateException>(document(Values(), Port));
    EXPECT_EQ(0u, missing.find("Problems validating the xml document.\r\n")) << missing;

    std::string swapped = document(Values());
    const std::string port = "  <port>8080</port>\n";
    swapped.erase(swapped.find(port), port.size());
    swapped.insert(swapped.find("  <saveRequests>"), port);
    EXPECT_EQ(0u, failure<xml::ValidateException>(swapped).find(
                      "Problems validating the xml document.\r\n"));

    EXPECT_TRUE(_log.entries().empty());
}

}  // namespace
