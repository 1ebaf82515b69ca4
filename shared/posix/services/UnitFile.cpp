#include "posix/services/UnitFile.h"

#include <cstdlib>

namespace posix::services {

std::string unitFolder() {
    const char* configured = std::getenv("QUILLMARK_UNIT_DIR");
    if (configured != nullptr && *configured != '\0') return configured;
    return "/etc/systemd/system";
}

std::string unitFileName(const std::string& serviceName) {
    std::string name = serviceName;
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c == ' ') c = '-';
    }
    return name + ".service";
}

std::string unitFileContent(const std::string& description, const std::string& commandLine) {
    return "[Unit]\n"
           "Description=" +
           description +
           "\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "ExecStart=" +
           commandLine +
           "\n"
           // SIGHUP makes the server take up its log file again (after logrotate, say).
           "ExecReload=/bin/kill -HUP $MAINPID\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

}  // namespace posix::services
