#pragma once

// Creates one folder level (never intermediate folders). Created once at start-up and shared by
// pointer; stateless, any thread.

#include <string>

#include "exceptions/Exception.h"

namespace posix::file {

class CreateFolderException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class CreateFolder {
public:
    virtual ~CreateFolder() = default;

    // An existing entry is accepted unless `failIfExists` is set.
    virtual void create(const std::string& path, bool failIfExists) const = 0;

    // Creates the folder unless it exists; a failure is left for what uses the folder to report.
    void createIfPossible(const std::string& path) const {
        try {
            create(path, false);
        } catch (const CreateFolderException&) {
        }
    }
};

}  // namespace posix::file
