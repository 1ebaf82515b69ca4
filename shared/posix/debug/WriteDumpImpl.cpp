#include "posix/debug/WriteDumpImpl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "debug/assertion.h"
#include "platform/errorresources/SystemErrorText.h"

namespace posix::debug {

using platform::errorresources::systemErrorText;

void WriteDumpImpl::write(const std::string& path) const {
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) {
        throw WriteDumpException("Couldn't create a file to write a dump file to with name " +
                                 path + ".\n\n" + systemErrorText(errno));
    }
    const bool written = _writer.write(file, nullptr) && ::fsync(file) == 0;
    const int writeError = errno;
    const bool closed = ::close(file) == 0;
    if (!written) {
        ::unlink(path.c_str());
        throw WriteDumpException("Couldn't write dump.\n\n" + systemErrorText(writeError));
    }
    QM_ASSERT_TEXT(closed, "CloseHandle(file)", "Failed to close the dump file.");
}

}  // namespace posix::debug
