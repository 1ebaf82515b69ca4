#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/thread/SehExceptionMapper.h"

namespace norvale::quillmark {

// The table of fault codes and their descriptions (each ending with the code's symbolic name).
// Filled at construction and immutable afterwards, so any thread may read it.
class SehExceptionMapperImpl : public platform::thread::SehExceptionMapper {
public:
    SehExceptionMapperImpl();

    // The code's text, or null when the table does not know it.
    const std::string* lookup(std::uint32_t exceptionCode) const;
    void describe(std::uint32_t exceptionCode, std::string& text) const override;

private:
    void add(std::uint32_t exceptionCode, const char* text);

    std::map<std::uint32_t, std::string> _map;
};

}  // namespace norvale::quillmark
