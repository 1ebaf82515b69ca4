#include "server/ConfigurationFile.h"

#include <cstdint>
#include <limits>

#include "server/LogLevel.h"
#include "server/Product.h"
#include "util/NumberParser.h"
#include "util/StringHelper.h"
#include "xml/Document.h"
#include "xml/Element.h"
#include "xml/SchemaCache.h"

namespace norvale::quillmark {

namespace {

constexpr std::int64_t Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t Int32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t PortMax = std::numeric_limits<std::uint16_t>::max();
constexpr std::int64_t Int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t MaxLogFileCount = 1000;

std::int32_t int32Setting(const std::string& text) {
    return static_cast<std::int32_t>(util::parseInteger(text, Int32Min, Int32Max));
}

}  // namespace

ConfigurationFile::ConfigurationFile(Log* log, LogSettings* logSettings)
    : _log(log), _logSettings(logSettings) {}

ServerSettings ConfigurationFile::load(const std::string& configPath, const std::string& schemaPath,
                                       bool testMode) const {
    xml::Document schema;
    schema.loadFromFile(schemaPath);
    const std::string targetNamespace = schema.getTargetNamespace();
    xml::SchemaCache schemas;
    schemas.add(targetNamespace, schema);

    xml::Document config(&schemas);
    config.setSelectionNamespaces("xmlns:qm='" + targetNamespace + "'");
    config.loadFromFile(configPath);
    config.validate();
    const xml::Element root = config.selectExactlyOne("qm:quillmark");

    ServerSettings settings;
    settings.port =
        static_cast<std::uint16_t>(util::parseInteger(text(root, "qm:port"), 0, PortMax));
    settings.maxInput = int32Setting(text(root, "qm:maxInput"));
    settings.maxClients = int32Setting(text(root, "qm:maxClients"));
    settings.clientQueueSize = int32Setting(text(root, "qm:clientQueueSize"));
    settings.classifierRootPath = text(root, "qm:classifierRootPath");
    if (settings.classifierRootPath.empty()) {
        settings.classifierRootPath = product::DefaultClassifierRoot;
    }
    settings.logLevel = logLevelFromText(text(root, "qm:logLevel"));
    settings.logMemory = flag(text(root, "qm:logMemory"));

    // The log follows the file from here on, also if the last setting turns out to be missing.
    _logSettings->setLevel(settings.logLevel);
    _logSettings->setLogMemory(settings.logMemory);

    settings.saveRequests = flag(text(root, "qm:saveRequests")) && !testMode;

    // The bounds of the log file came later and may be left out; the defaults are the log's own.
    settings.logFileMaxBytes = static_cast<std::uint64_t>(util::parseInteger(
        optionalText(root, "qm:logFileMaxBytes", std::to_string(LogSettings::DefaultMaxFileBytes)),
        0, Int64Max));
    settings.logFileCount = static_cast<int>(util::parseInteger(
        optionalText(root, "qm:logFileCount", std::to_string(LogSettings::DefaultKeepFiles)), 0,
        MaxLogFileCount));
    _logSettings->setFileRotation(settings.logFileMaxBytes, settings.logFileCount);
    settings.listenAddress = optionalText(root, "qm:listenAddress", "");
    settings.allowedClients =
        net::server::ClientNetworks::parse(optionalText(root, "qm:allowedClients", ""));
    // A request may ask for far more than its own size (getInformation on a large classifier);
    // by default the answer may be eight times the largest request.
    const std::uint64_t defaultMaxOutput =
        settings.maxInput > 0 ? 8 * static_cast<std::uint64_t>(settings.maxInput) : 0;
    settings.maxOutput = static_cast<std::uint64_t>(util::parseInteger(
        optionalText(root, "qm:maxOutput", std::to_string(defaultMaxOutput)), 0, Int64Max));
    // The self test needs no metrics, and several may run at once beside a running server.
    const std::string metricsPort = optionalText(root, "qm:metricsPort", "");
    if (!metricsPort.empty()) {
        const auto port = static_cast<std::uint16_t>(util::parseInteger(metricsPort, 0, PortMax));
        if (!testMode) settings.metricsPort = port;
    }
    settings.metricsAddress = optionalText(root, "qm:metricsAddress", "127.0.0.1");
    settings.postgresConnection = optionalText(root, "qm:postgresConnection", "");

    _log->log("Using config settings:\n" + config.getXml());
    return settings;
}

std::string ConfigurationFile::text(const xml::Element& root, const std::string& name) {
    return root.selectExactlyOne(name).getText();
}

std::string ConfigurationFile::optionalText(const xml::Element& root, const std::string& name,
                                            const std::string& absent) {
    if (root.selectNodes(name).count() == 0) return absent;
    return text(root, name);
}

bool ConfigurationFile::flag(const std::string& text) {
    const std::string lowered = util::StringHelper::toLower(text);
    return lowered == "true" || lowered == "1";
}

}  // namespace norvale::quillmark
