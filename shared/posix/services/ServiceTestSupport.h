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
#include <sstream>
#include <string>
#include <vector>

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
    explicit FakeSystemctl(const io::filesystem::test::TempFolder& folder)
        : _folder(folder),
          _script(folder.write("bin/systemctl",
                               "#!/bin/sh\necho \"$*\" >> '" + folder.path("systemctl.log") +
                                   "'\nif [ \"$1\" = \"$(cat '" + folder.path("fail") +
                                   "')\" ]; then echo refused >&2; exit 3; fi\n")),
          _path("PATH", folder.path("bin") + ":" + std::getenv("PATH")) {
        ::chmod(_script.c_str(), 0755);
        failOn("");
    }

    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::istringstream log(
            io::filesystem::test::TempFolder::read(_folder.path("systemctl.log")));
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }
    void failOn(const std::string& verb) const { _folder.write("fail", verb); }

private:
    const io::filesystem::test::TempFolder& _folder;
    std::string _script;
    ScopedEnvironment _path;
};

// A datagram socket bound in a temporary folder, named by NOTIFY_SOCKET while it lives.
class NotifySocket {
public:
    explicit NotifySocket(const io::filesystem::test::TempFolder& folder)
        : _path(folder.path("notify")), _environment("NOTIFY_SOCKET", _path) {
        _socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, _path.c_str(), sizeof address.sun_path - 1);
        if (_socket < 0 ||
            ::bind(_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ADD_FAILURE() << "could not bind " << _path;
        }
    }
    ~NotifySocket() {
        if (_socket >= 0) ::close(_socket);
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    // Every report that arrives within `quiet` milliseconds of the previous one.
    std::vector<std::string> receive(int quiet = 200) const {
        std::vector<std::string> reports;
        pollfd ready{_socket, POLLIN, 0};
        while (::poll(&ready, 1, quiet) == 1) {
            char buffer[512];
            const ssize_t got = ::recv(_socket, buffer, sizeof buffer, 0);
            if (got < 0) break;
            reports.emplace_back(buffer, static_cast<std::size_t>(got));
        }
        return reports;
    }
    // Stops receiving: later reports fail to be sent.
    void close() {
        ::close(_socket);
        _socket = -1;
        ::unlink(_path.c_str());
    }

private:
    std::string _path;
    ScopedEnvironment _environment;
    int _socket = -1;
};

using norvale::quillmark::testing::messageOf;

}  // namespace posix::services::test
