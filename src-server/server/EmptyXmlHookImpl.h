#pragma once

#include <string>

#include "server/XmlHook.h"

namespace norvale::quillmark {

// The hook when archiving is off: nothing is written and nothing is logged.
class EmptyXmlHookImpl : public XmlHook {
public:
    void save(const std::string&) override {}
};

}  // namespace norvale::quillmark
