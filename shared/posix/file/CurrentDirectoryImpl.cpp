#include "posix/file/CurrentDirectoryImpl.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/errorresources/SystemErrorText.h"

namespace posix::file {

void CurrentDirectoryImpl::set(const std::string& path) {
    if (::chdir(path.c_str()) == 0) return;
    throw SetCurrentDirectoryException("Could not set the directory, " + path +
                                       ", to the current directory.\n\n" +
                                       platform::errorresources::lastSystemErrorText());
}

std::string CurrentDirectoryImpl::get() const {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            throw GetCurrentDirectoryException("Couldn't get the current directory.\n\n " +
                                               platform::errorresources::lastSystemErrorText());
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace posix::file
