#pragma once

#include <cstddef>
#include <random>
#include <string>

namespace norvale::quillmark::test {

// `count` bytes of garbage for the robustness cases: each a pseudo-random value plus 128, cut to
// a byte, so every byte value can occur.
std::string randomBytes(std::mt19937& random, std::size_t count);

}  // namespace norvale::quillmark::test
