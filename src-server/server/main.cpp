// The process entry point of quillmarkserver: the process-wide objects in their order, then
// start-up in the mode the command line names. Every object lives until main returns.

#include "io/filesystem/ExistsDirImpl.h"
#include "io/filesystem/ExistsFileImpl.h"
#include "io/filesystem/LoadFileImpl.h"
#include "io/filesystem/RemoveFileImpl.h"
#include "io/filesystem/RotateFileImpl.h"
#include "io/filesystem/SaveFileImpl.h"
#include "io/filesystem/SizeFileImpl.h"
#include "platform/thread/LoggingThreadFactoryImpl.h"
#include "platform/thread/OsInfoImpl.h"
#include "posix/debug/WriteDumpImpl.h"
#include "posix/file/CreateFolderImpl.h"
#include "posix/file/CurrentDirectoryImpl.h"
#include "posix/file/DiskSpaceImpl.h"
#include "posix/file/ModuleImpl.h"
#include "posix/memory/MemoryStatusImpl.h"
#include "posix/services/SCManagerFactoryImpl.h"
#include "posix/services/ServiceActions.h"
#include "posix/services/ServiceDispatcherImpl.h"
#include "posix/signals/FatalSignalHandlers.h"
#include "posix/signals/HangUpSignal.h"
#include "server/LogImpl.h"
#include "server/Product.h"
#include "server/QuillmarkThreadLog.h"
#include "server/SehExceptionMapperImpl.h"
#include "server/ServerRunnerImpl.h"
#include "server/Startup.h"
#include "server/SystemServiceControl.h"

int main(int argc, char** argv) {
    using namespace norvale::quillmark;

    // The crash-report writer, the file and memory services, the one log, the fault-code names;
    // from here on a fatal signal on any thread is reported before the process ends.
    posix::debug::WriteDumpImpl writeDump;
    io::filesystem::SaveFileImpl saveFile;
    io::filesystem::RotateFileImpl rotateFile;
    posix::file::CreateFolderImpl createFolder;
    platform::memory::MemoryStatusImpl memoryStatus;
    Metrics metrics;
    LogImpl log(&saveFile, &rotateFile, &createFolder, &writeDump, &memoryStatus, &metrics);
    SehExceptionMapperImpl sehMapper;
    posix::signals::FatalSignalHandlers fatalSignals(&sehMapper, &log);

    io::filesystem::ExistsFileImpl existsFile;
    io::filesystem::ExistsDirImpl existsDir;
    io::filesystem::LoadFileImpl loadFile;
    io::filesystem::SizeFileImpl sizeFile;
    io::filesystem::RemoveFileImpl removeFile;
    posix::file::CurrentDirectoryImpl currentDirectory;
    posix::file::ModuleImpl executable;
    posix::file::DiskSpaceImpl diskSpace;

    StartupServices services;
    services.log = &log;
    services.logSettings = &log;
    services.metrics = &metrics;
    services.memoryStatus = &memoryStatus;
    services.sehMapper = &sehMapper;
    services.saveFile = &saveFile;
    services.existsDir = &existsDir;
    services.existsFile = &existsFile;
    services.loadFile = &loadFile;
    services.sizeFile = &sizeFile;
    services.removeFile = &removeFile;
    services.createFolder = &createFolder;
    services.currentDirectory = &currentDirectory;
    services.executable = &executable;

    platform::thread::OsInfoImpl osInfo;
    QuillmarkThreadLog threadLog(&log);
    platform::thread::LoggingThreadFactoryImpl threads(&osInfo, &threadLog);
    posix::services::SCManagerFactoryImpl serviceManagers;
    const posix::services::ServiceActions serviceActions(&serviceManagers, &executable,
                                                         product::Name, product::Description);
    SystemServiceControl serviceControl(&serviceActions);
    ServerRunnerImpl serverRunner(services, &diskSpace, &threads, product::ConfigSchemaFile,
                                  product::RequestSchemaFile, product::ResponseSchemaFile);

    return Startup::reportFailures(&log, [&] {
        // SIGHUP (logrotate, systemctl reload) takes up the log file again instead of ending
        // the process.
        posix::signals::HangUpSignal hangUp(&log);
        Startup startup(argc, argv, services, &serviceControl, &serverRunner);
        if (startup.serviceMode()) {
            posix::services::ServiceDispatcherImpl dispatcher;
            dispatcher.run(&startup);
            return startup.exitStatus();
        }
        return startup.run();
    });
}
