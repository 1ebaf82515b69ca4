#include "io/filesystem/FileDiagnostics.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/errorresources/SystemErrorText.h"

namespace io::filesystem {

namespace {

std::string workingDirectory() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return "Couldn't get the current directory. Exception: " +
                   platform::errorresources::lastSystemErrorText();
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace

std::string diagnosticTail(const std::string& path, int errorCode) {
    // The error text is taken first: finding the working directory may change errno.
    const std::string errorText = platform::errorresources::systemErrorText(errorCode);
    return "\nFilename: '" + path + "'. " + "\nCurrent Working Directory: '" + workingDirectory() +
           "'.\n" + errorText + "\nC++ exception: " + "None.";
}

}  // namespace io::filesystem
