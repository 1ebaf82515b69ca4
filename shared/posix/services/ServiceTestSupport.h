#pragma once

// Fakes shared by the service tests (never linked into the product): environment variables set
// for one test, a recording "systemctl" first on PATH, and a notification socket that receives
// the status reports.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "io/filesystem/FileDescriptor.h"
#include "io/filesystem/TempFolder.h"
#include "testing/MessageOf.h"

namespace posix::services::test {

// Sets (or with nullopt removes) one environment variable until the end of the scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value)
        : _name(std::move(name)) {
        if (const char* old = std::getenv(_name.c_str())) _old = old;
        set(value);
    }
    ~ScopedEnvironment() { set(_old); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void set(const std::optional<std::string>& value) const {
        value ? ::setenv(_name.c_str(), value->c_str(), 1) : ::unsetenv(_name.c_str());
    }

    std::string _name;
    std::optional<std::string> _old;
};

// A shell script named "systemctl" in `folder`/bin, first on PATH while the object lives. It
// appends its arguments as one line to `folder`/systemctl.log and exits with 3 (after a line on
// standard error) when its first argument is the verb given to failOn.
class FakeSystemctl {
public:
    explicit FakeSystemctl(const io::filesystem::test::TempFolder& folder) : _folder(folder) {
        const std::string script = folder.write(
            "bin/systemctl", "#!/bin/sh\necho \"$*\" >> '" + folder.path("systemctl.log") +
                                 "'\nif [ \"$1\" = \"$(cat '" + folder.path("fail") +
                                 "')\" ]; then echo refused >&2; exit 3; fi\n");
        ::chmod(script.c_str(), 0755);
        failOn("");
    }

    // Every call so far, one line each.
    std::string calls() const { return _folder.read(_folder.path("systemctl.log")); }
    void failOn(const std::string& verb) const { _folder.write("fail", verb); }

private:
    const io::filesystem::test::TempFolder& _folder;
    ScopedEnvironment _path{"PATH", _folder.path("bin") + ":" + std::getenv("PATH")};
};

// A datagram socket bound in a temporary folder, named by NOTIFY_SOCKET while it lives.
class NotifySocket {
public:
    explicit NotifySocket(const io::filesystem::test::TempFolder& folder)
        : _path(folder.path("notify")), _environment("NOTIFY_SOCKET", _path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, _path.c_str(), sizeof address.sun_path - 1);
        if (::bind(_socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address)) {
            ADD_FAILURE() << "could not bind " << _path;
        }
    }

    // Every report that arrives within 200 ms of the previous one.
    std::vector<std::string> receive() const {
        std::vector<std::string> reports;
        pollfd ready{_socket.get(), POLLIN, 0};
        char buffer[512];
        for (ssize_t got; ::poll(&ready, 1, 200) == 1 &&
                          (got = ::recv(_socket.get(), buffer, sizeof buffer, 0)) >= 0;) {
            reports.emplace_back(buffer, static_cast<std::size_t>(got));
        }
        return reports;
    }
    // Stops receiving: later reports fail to be sent.
    void close() { _socket.close(); }

private:
    std::string _path;
    ScopedEnvironment _environment;
    io::filesystem::FileDescriptor _socket{::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
};

using norvale::quillmark::testing::messageOf;

}  // namespace posix::services::test
