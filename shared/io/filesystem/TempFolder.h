#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace io::filesystem::test {

// A fresh folder below the system's temporary folder, removed with everything in it at the end
// of the test.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string path(std::string_view name) const;
    // Creates the folders on the way.
    std::string write(std::string_view name, std::string_view content) const;
    static std::string read(const std::string& path);

private:
    std::filesystem::path _root;
};

// What the diagnostic tail must read for `path` and the given system error text.
std::string expectedTail(const std::string& path, const std::string& systemErrorText);

}  // namespace io::filesystem::test
