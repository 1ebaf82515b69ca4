#include "server/Startup.h"

#include <cxxabi.h>

#include <algorithm>
#include <exception>
#include <new>

#include "net/socket/SocketInitializerImpl.h"
#include "server/Product.h"
#include "server/TerminateHandlerImpl.h"
#include "xml/ComInitializer.h"

namespace norvale::quillmark {

namespace {

bool contains(int argc, const char* const* argv, const char* word) {
    return std::any_of(argv, argv + argc,
                       [&](const char* arg) { return std::string(arg) == word; });
}

std::string joined(int argc, const char* const* argv) {
    std::string text;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) text += ' ';
        text += argv[i];
    }
    return text;
}

}  // namespace

Startup::Startup(int argc, const char* const* argv, const StartupServices& services,
                 ServiceControl* serviceControl, ServerRunner* serverRunner)
    : ServerService(services.log, &_stopEvent),
      _log(services.log),
      _memoryStatus(services.memoryStatus),
      _sehMapper(services.sehMapper),
      _services(services),
      _serviceControl(serviceControl),
      _serverRunner(serverRunner) {
    enterExecutableFolder();
    prepareLogFolder();
    _services.logSettings->setFileOutput(true);
    readCommandLine(argc, argv);
}

// Relative paths (schemas, logs, classifiers) are found beside the executable, whichever folder
// the server was started from.
void Startup::enterExecutableFolder() {
    std::string path = _services.executable->fileName();
    path.erase(std::remove(path.begin(), path.end(), '"'), path.end());
    _services.currentDirectory->set(path.substr(0, path.rfind('/') + 1));
}

void Startup::prepareLogFolder() {
    _services.createFolder->createIfPossible(product::LogFolder);
    if (!_services.existsDir->exists(product::LogFolder)) {
        throw SystemStartupException(std::string("The directory '") + product::LogFolder +
                                     "' doesn't exist. Make sure you create it!");
    }
}

void Startup::readCommandLine(int argc, const char* const* argv) {
    if (argc < 2) throw ArgStartupException("No arguments specified.");
    registerFlags(argc, argv);
    try {
        _argumentParser.parse(argc - 1, argv + 1);
    } catch (const exceptions::Exception& e) {
        throw ArgStartupException(e.what());
    }
    // Under systemd the console is the journal, which reads each line's priority from its start.
    _services.logSettings->setConsoleOutput(!_argumentParser.isParsed(QuietFlag));
    _services.logSettings->setJournalPrefixes(_serviceMode);
    _log->log("Executing " + joined(argc, argv));
}

// The mode is chosen by the first of its flag words found anywhere on the command line; only
// the flags of that mode (and "-quiet") are accepted.
void Startup::registerFlags(int argc, const char* const* argv) {
    if (contains(argc, argv, ServiceFlag)) {
        _serviceMode = true;
        _argumentParser.addFlag(ServiceFlag, 0, 0, false);
        _argumentParser.addFlag(ConfigFlag, 1, 1, false);
    } else if (contains(argc, argv, InstallFlag)) {
        _argumentParser.addFlag(InstallFlag, 0, 0, false);
        _argumentParser.addFlag(ConfigFlag, 1, 1, false);
    } else if (contains(argc, argv, UninstallFlag)) {
        _argumentParser.addFlag(UninstallFlag, 0, 0, false);
    } else if (contains(argc, argv, StartFlag)) {
        _argumentParser.addFlag(StartFlag, 0, 0, false);
    } else if (contains(argc, argv, StopFlag)) {
        _argumentParser.addFlag(StopFlag, 0, 0, false);
    } else if (contains(argc, argv, ImportFlag)) {
        _argumentParser.addFlag(ImportFlag, 1, 1, false);
        _argumentParser.addFlag(ConfigFlag, 1, 1, false);
    } else if (contains(argc, argv, TestFlag)) {
        _argumentParser.addFlag(TestFlag, 0, 0, false);
        _argumentParser.addFlag(ConfigFlag, 1, 1, false);
        _stopEvent.set();
    } else {
        _argumentParser.addFlag(ConfigFlag, 1, 1, false);
    }
    _argumentParser.addFlag(QuietFlag, 0, 0, true);
}

int Startup::run() {
    return reportFailures(_log, [this] {
        xml::ComInitializer com;
        net::socket::SocketInitializerImpl sockets;
        TerminateHandlerImpl terminateHandler(_log);
        terminateHandler.install();
        dispatch(&terminateHandler);
        terminateHandler.uninstall();
        return 0;
    });
}

void Startup::dispatch(TerminateHandler* terminateHandler) {
    if (_argumentParser.isParsed(InstallFlag)) {
        _serviceControl->install(_argumentParser.getArgument(ConfigFlag));
        _log->log("Successfully installed the service.");
    } else if (_argumentParser.isParsed(UninstallFlag)) {
        _serviceControl->uninstall();
        _log->log("Successfully uninstalled the service.");
    } else if (_argumentParser.isParsed(StartFlag)) {
        _serviceControl->start();
        _log->log("Successfully started the service.");
    } else if (_argumentParser.isParsed(StopFlag)) {
        _serviceControl->stop();
        _log->log("Successfully stopped the service.");
    } else {
        ServerRunSettings settings;
        settings.configPath = _argumentParser.getArgument(ConfigFlag);
        settings.testMode = _argumentParser.isParsed(TestFlag);
        settings.serviceMode = _serviceMode;
        if (_argumentParser.isParsed(ImportFlag)) {
            settings.importFolder = _argumentParser.getArgument(ImportFlag);
        }
        _serverRunner->runServer(settings, &_stopEvent, terminateHandler);
    }
}

std::string Startup::usageText() {
    const std::string config = ConfigFlag;
    return std::string("\n") + product::Name + " " + product::Version +
           " - classifies text documents.\n"
           "Copyright (C) Norvale. All rights reserved.\n"
           "\n"
           "Flags:\n" +
           config +
           "\t\tSpecifies the server configuration file that is defined in XML. Can be used "
           "with " +
           QuietFlag + " and " + TestFlag + ".\n" + QuietFlag +
           "\t\tDoesn't output messages to std out, only to the logfile.\n" + InstallFlag +
           "\tInstalls the server as a service. Must be used with " + config + ".\n" +
           UninstallFlag + "\tUninstalls the service.\n" + StartFlag + "\t\tStarts the service.\n" +
           StopFlag +
           "\t\tStops the service.\n"
           "\n"
           "Example - Runs it with the settings in 'config.xml':\n"
           "quillmarkserver " +
           config + " config.xml\n";
}

int Startup::reportFailures(Log* log, const std::function<int()>& body) {
    try {
        return body();
    } catch (const ArgStartupException& e) {
        log->error(e.what());
        log->log(usageText());
    } catch (const exceptions::Exception& e) {
        log->error(std::string("An exception occured when trying to startup the server. ") +
                   e.what());
    } catch (const std::bad_alloc& e) {
        log->error(std::string("Caught a bad alloc exception. ") + e.what());
    } catch (const std::exception& e) {
        log->error(std::string("Caught an exception. ") + e.what());
    } catch (const abi::__forced_unwind&) {
        throw;
    } catch (...) {
        log->error("A ... exception occured when trying to startup the server.");
    }
    return 1;
}

}  // namespace norvale::quillmark
