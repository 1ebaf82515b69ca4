#pragma once

// The sequence of the process entry point: enter the executable's folder, prepare the log
// folder, read the command line, then run the chosen mode (console server, service server, self
// test, install, uninstall, start, stop). Constructed and run on the main thread; in service
// mode `run` runs on the service thread while the control handler may set the stop event from
// another. Nothing here is owned but the stop event and the parser.

#include <functional>
#include <string>

#include "io/filesystem/ExistsDir.h"
#include "io/filesystem/ExistsFile.h"
#include "io/filesystem/LoadFile.h"
#include "io/filesystem/RemoveFile.h"
#include "io/filesystem/SaveFile.h"
#include "io/filesystem/SizeFile.h"
#include "platform/event/EventImpl.h"
#include "platform/thread/SehExceptionMapper.h"
#include "posix/file/CreateFolder.h"
#include "posix/file/CurrentDirectory.h"
#include "posix/file/Module.h"
#include "posix/memory/MemoryStatus.h"
#include "server/Log.h"
#include "server/LogSettings.h"
#include "server/Metrics.h"
#include "server/ServerRunner.h"
#include "server/ServerService.h"
#include "server/ServiceControl.h"
#include "server/StartupException.h"
#include "util/parser/ArgumentParser.h"

namespace norvale::quillmark {

// The process-wide service objects start-up works with; none is owned. `log` and `logSettings`
// are the one process log.
struct StartupServices {
    Log* log = nullptr;
    LogSettings* logSettings = nullptr;
    Metrics* metrics = nullptr;
    const platform::memory::MemoryStatus* memoryStatus = nullptr;
    const platform::thread::SehExceptionMapper* sehMapper = nullptr;
    const io::filesystem::SaveFile* saveFile = nullptr;
    const io::filesystem::ExistsDir* existsDir = nullptr;
    const io::filesystem::ExistsFile* existsFile = nullptr;
    const io::filesystem::LoadFile* loadFile = nullptr;
    const io::filesystem::SizeFile* sizeFile = nullptr;
    const io::filesystem::RemoveFile* removeFile = nullptr;
    const posix::file::CreateFolder* createFolder = nullptr;
    posix::file::CurrentDirectory* currentDirectory = nullptr;
    const posix::file::Module* executable = nullptr;
};

class Startup : public ServerService {
public:
    static constexpr const char* ConfigFlag = "-config";
    static constexpr const char* QuietFlag = "-quiet";
    static constexpr const char* TestFlag = "-test";
    static constexpr const char* InstallFlag = "-install";
    static constexpr const char* UninstallFlag = "-uninstall";
    static constexpr const char* StartFlag = "-start";
    static constexpr const char* StopFlag = "-stop";
    static constexpr const char* ServiceFlag = "-scm";
    static constexpr const char* ImportFlag = "-import";

    // Throws SetCurrentDirectoryException, SystemStartupException (no log folder) and
    // ArgStartupException (a command line the mode does not accept).
    Startup(int argc, const char* const* argv, const StartupServices& services,
            ServiceControl* serviceControl, ServerRunner* serverRunner);
    Startup(const Startup&) = delete;
    Startup& operator=(const Startup&) = delete;

    // Runs the chosen mode: 0 when it completed, 1 when it failed (the failure is logged). In
    // service mode the service body calls it on the service thread.
    int run() override;

    bool serviceMode() const { return _serviceMode; }
    // Set by the service's stop control; test mode sets it at construction.
    platform::event::Event* stopEvent() { return &_stopEvent; }

    // The lines logged after a command line that was not accepted, joined by line feeds.
    static std::string usageText();

    // Runs `body` and turns what escapes it into the logged failure and exit code 1: the usage
    // text after an ArgStartupException, the start-up message for the system's own exceptions,
    // and the standard-library and unknown cases.
    static int reportFailures(Log* log, const std::function<int()>& body);

private:
    void enterExecutableFolder();
    void prepareLogFolder();
    void readCommandLine(int argc, const char* const* argv);
    void registerFlags(int argc, const char* const* argv);
    void dispatch(TerminateHandler* terminateHandler);

    Log* _log;
    [[maybe_unused]] const platform::memory::MemoryStatus* _memoryStatus;
    [[maybe_unused]] const platform::thread::SehExceptionMapper* _sehMapper;
    platform::event::EventImpl _stopEvent;
    bool _serviceMode = false;
    util::parser::ArgumentParser _argumentParser{'-'};
    StartupServices _services;
    ServiceControl* _serviceControl;
    ServerRunner* _serverRunner;
};

}  // namespace norvale::quillmark
