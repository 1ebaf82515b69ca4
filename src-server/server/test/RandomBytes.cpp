#include "server/test/RandomBytes.h"

namespace norvale::quillmark::test {

std::string randomBytes(std::mt19937& random, std::size_t count) {
    std::string bytes(count, '\0');
    for (char& byte : bytes) byte = static_cast<char>(static_cast<unsigned char>(random() + 128));
    return bytes;
}

}  // namespace norvale::quillmark::test
