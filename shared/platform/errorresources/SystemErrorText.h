#pragma once

#include <string>

#include "platform/errorresources/ErrorMapper.h"

namespace platform::errorresources {

// The system error text that ends most failure messages:
//   "System error message: " + description + " Error code: " + code + "."
// The description is strerror's text with a full stop added when it lacks one; when the system
// has no text for the code, the mapper's text + "." is used, and without one
// "Error message not found.".
std::string systemErrorText(int code, const ErrorMapper* mapper = nullptr);

// The same for the calling thread's current errno.
std::string lastSystemErrorText(const ErrorMapper* mapper = nullptr);

}  // namespace platform::errorresources
