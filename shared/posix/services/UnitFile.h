#pragma once

// The systemd unit that registers a service: its file name and content.

#include <string>

namespace posix::services {

// The folder of unit files: $QUILLMARK_UNIT_DIR when set and not empty (tests point it at a
// temporary folder), otherwise "/etc/systemd/system".
std::string unitFolder();

// The unit file name of a service: the name with ASCII letters lower-cased and spaces turned
// into '-', then ".service" ("Quillmark Server" -> "quillmark-server.service").
std::string unitFileName(const std::string& serviceName);

// A unit that systemd starts at boot and waits for until the service reports it is ready.
std::string unitFileContent(const std::string& description, const std::string& commandLine);

}  // namespace posix::services
