#include "posix/file/ExecutablePath.h"

#include <unistd.h>

#include <vector>

namespace posix::file {

bool readLinkTarget(const std::string& link, std::string& target) {
    std::vector<char> buffer(1024);
    for (;;) {
        const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (length < 0) return false;
        // A result that fills the buffer may have been cut.
        if (static_cast<std::size_t>(length) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace posix::file
