#pragma once

#include <memory>

#include "server/EmptyXmlHookImpl.h"
#include "server/XmlHook.h"

namespace norvale::quillmark {

// The factory when archiving is off.
class EmptyXmlHookFactoryImpl : public XmlHookFactory {
public:
    std::unique_ptr<XmlHook> create() const override {
        return std::make_unique<EmptyXmlHookImpl>();
    }
};

}  // namespace norvale::quillmark
