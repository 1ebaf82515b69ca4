#include "io/filesystem/TempFolder.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace io::filesystem::test {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm_io_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    _root = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(_root, ignored);
}

std::string TempFolder::path(std::string_view name) const {
    return (_root / name).string();
}

std::string TempFolder::write(std::string_view name, std::string_view content) const {
    const std::string file = path(name);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return file;
}

std::string TempFolder::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string expectedTail(const std::string& path, const std::string& systemErrorText) {
    return "\nFilename: '" + path + "'. \nCurrent Working Directory: '" +
           std::filesystem::current_path().string() + "'.\n" + systemErrorText +
           "\nC++ exception: None.";
}

}  // namespace io::filesystem::test
