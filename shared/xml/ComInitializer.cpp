#include "xml/ComInitializer.h"

#include <libxml/parser.h>
#include <libxml/xmlversion.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace xml {

namespace {

std::once_flag libraryOnce;

// The loaded library is checked once against the headers the server was compiled with; an
// older library may lack the parser options the layer relies on (XML_PARSE_NONET, ...).
void initialiseOnce(std::string& failure) {
    xmlInitParser();
    const int loadedVersion = std::atoi(xmlParserVersion);
    if (loadedVersion < LIBXML_VERSION) {
        failure = "The loaded XML library version " + std::string(xmlParserVersion) +
                  " is older than the version " LIBXML_VERSION_STRING " the server was built with.";
    }
}

}  // namespace

void ComInitializer::initialiseLibrary() {
    static std::string failure;
    std::call_once(libraryOnce, [] { initialiseOnce(failure); });
    if (!failure.empty()) {
        throw ComInitializerException(
            "Could not initializes the XML library using 'xmlInitParser'. " + failure);
    }
}

ComInitializer::ComInitializer() {
    initialiseLibrary();
}

// The library stays initialised until the process ends: other threads may still be using it.
ComInitializer::~ComInitializer() = default;

}  // namespace xml
