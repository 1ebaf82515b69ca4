#pragma once

// Kept only for the client's tests until they use testing/InProcessServer.h themselves.
#include "testing/InProcessServer.h"

namespace norvale::quillmark::testing {
using RequestServer = InProcessServer;
}  // namespace norvale::quillmark::testing
