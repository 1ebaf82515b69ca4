#pragma once

#include <memory>
#include <string>

namespace norvale::quillmark {

// Archives each request text as it arrives, before it is parsed. Never throws: archiving does not
// change the answer to a request.
class XmlHook {
public:
    virtual ~XmlHook() = default;
    virtual void save(const std::string& request) = 0;
};

// Makes the hook of each request executor; shared by every connection thread.
class XmlHookFactory {
public:
    virtual ~XmlHookFactory() = default;
    virtual std::unique_ptr<XmlHook> create() const = 0;
};

}  // namespace norvale::quillmark
