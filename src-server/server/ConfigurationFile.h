#pragma once

// Reads the server's configuration file: validates it against the configuration schema, then
// reads the eight mandatory settings in their fixed order and the two optional bounds of the log
// file after them. Used once by start-up on the main thread.
//
// Reading has effects on the log: right after the memory flag is read, the log's level and memory
// flag are switched to the configured values (before saveRequests is read), then the log file's
// bounds are set, and at the end the whole document is logged as "Using config settings:\n" +
// its XML text. Every failure throws the
// exception of the layer that found it (exceptions::Exception family): the XML layer's load and
// validation failures, util::NumberFormatException for numbers, LogLevelException for the level.

#include <string>

#include "server/Log.h"
#include "server/LogSettings.h"
#include "server/ServerSettings.h"

namespace xml {
class Element;
}

namespace norvale::quillmark {

class ConfigurationFile {
public:
    // Neither pointer is owned; both must outlive the object (usually the one LogImpl).
    ConfigurationFile(Log* log, LogSettings* logSettings);

    // `schemaPath` is the configuration schema; its targetNamespace is the namespace of the
    // configuration document, selected with the prefix "qm". In `testMode` saveRequests is
    // forced off whatever the file says.
    ServerSettings load(const std::string& configPath, const std::string& schemaPath,
                        bool testMode) const;

private:
    static std::string text(const xml::Element& root, const std::string& name);
    // The text of a setting that may be left out, `absent` when it is.
    static std::string optionalText(const xml::Element& root, const std::string& name,
                                    const std::string& absent);
    static bool flag(const std::string& text);

    Log* _log;
    LogSettings* _logSettings;
};

}  // namespace norvale::quillmark
