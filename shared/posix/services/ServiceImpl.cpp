#include "posix/services/ServiceImpl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "debug/assertion.h"
#include "platform/errorresources/SystemErrorText.h"
#include "posix/services/Systemctl.h"

namespace posix::services {

namespace {

using platform::errorresources::lastSystemErrorText;
using platform::errorresources::systemErrorText;

const char* const DescriptionKey = "Description=";

// Throws E with `opening` followed by the failure when systemctl reported one.
template <typename E>
void throwOnFailure(const std::string& failure, const std::string& opening) {
    if (!failure.empty()) throw E(opening + failure);
}

// The unit with its Description line set to `description` (added after the section header when
// the unit has none).
std::string withDescription(const std::string& unit, const std::string& description) {
    std::string result;
    bool done = false;
    std::size_t begin = 0;
    while (begin < unit.size()) {
        std::size_t end = unit.find('\n', begin);
        end = end == std::string::npos ? unit.size() : end + 1;
        const std::string line = unit.substr(begin, end - begin);
        if (!done && line.rfind(DescriptionKey, 0) == 0) {
            result += DescriptionKey + description + "\n";
            done = true;
        } else {
            result += line;
        }
        begin = end;
    }
    if (!done) {
        const std::size_t header = result.find("[Unit]\n");
        const std::size_t at = header == std::string::npos ? 0 : header + 7;
        result.insert(at, DescriptionKey + description + "\n");
    }
    return result;
}

}  // namespace

ServiceImpl::ServiceImpl(int handle, std::string unitPath, std::string unitName)
    : _handle(handle), _unitPath(std::move(unitPath)), _unitName(std::move(unitName)) {}

void ServiceImpl::close() {
    checkOpen();
    const int handle = _handle.get();
    if (!_handle.close()) {
        throw ServiceException(
            "Could not close service handle using 'CloseServiceHandle'. "
            "Handle: " +
            std::to_string(handle) + ". " + lastSystemErrorText());
    }
}

void ServiceImpl::start() {
    checkOpen();
    throwOnFailure<ServiceException>(runSystemctl({"start", _unitName}),
                                     "Could not start service using the 'StartService' system "
                                     "call. ");
}

void ServiceImpl::stop() {
    checkOpen();
    throwOnFailure<ServiceException>(runSystemctl({"stop", _unitName}),
                                     "Could not stop service using the 'ControlService' system "
                                     "call. ");
}

void ServiceImpl::setDescription(const char* description) {
    checkOpen();
    if (description == nullptr) {
        throw ServiceException("description sent to ServiceImpl::setDescription is NULL.");
    }
    static const std::string opening =
        "Could not set service description using "
        "'ChangeServiceConfig2'. ";
    const std::string text = description;
    // A unit line ends at the first line break, so such a text cannot be stored.
    if (text.find_first_of("\r\n") != std::string::npos) {
        throw ServiceException(opening + systemErrorText(EINVAL));
    }
    replaceUnit(withDescription(readUnit(), text));
    throwOnFailure<ServiceException>(runSystemctl({"daemon-reload"}), opening);
}

void ServiceImpl::remove() {
    checkOpen();
    static const std::string opening = "Could not delete service using 'DeleteService'. ";
    throwOnFailure<ServiceException>(runSystemctl({"disable", _unitName}), opening);
    if (::unlink(_unitPath.c_str()) != 0) throw ServiceException(opening + lastSystemErrorText());
    throwOnFailure<ServiceException>(runSystemctl({"daemon-reload"}), opening);
}

void ServiceImpl::checkOpen() const {
    QM_ASSERT(_handle.valid(), "The service handle is closed.");
}

// Read by path: after a replacement the handle still names the file that was replaced.
std::string ServiceImpl::readUnit() const {
    io::filesystem::FileDescriptor file(::open(_unitPath.c_str(), O_RDONLY | O_CLOEXEC));
    std::string content;
    char buffer[4096];
    while (file.valid()) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) return content;
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    throw ServiceException("Could not set service description using 'ChangeServiceConfig2'. " +
                           lastSystemErrorText());
}

// Writes a sibling file and renames it over the unit, so the unit is never seen half-written.
void ServiceImpl::replaceUnit(const std::string& content) const {
    static const std::string opening =
        "Could not set service description using "
        "'ChangeServiceConfig2'. ";
    const std::string temporary = _unitPath + ".new";
    io::filesystem::FileDescriptor file(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file.valid()) throw ServiceException(opening + lastSystemErrorText());
    if (!io::filesystem::writeAll(file.get(), content.data(), content.size()) ||
        ::fsync(file.get()) != 0 || !file.close() ||
        ::rename(temporary.c_str(), _unitPath.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw ServiceException(opening + systemErrorText(error));
    }
}

}  // namespace posix::services
