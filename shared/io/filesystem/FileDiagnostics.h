#pragma once

#include <string>

namespace io::filesystem {

// The block appended to load, save and size failures so that an operator can see which file,
// relative to which working directory, and which system error:
//   "\nFilename: '<path>'. \nCurrent Working Directory: '<cwd>'.\n<system error text>
//    \nC++ exception: None."
// `errorCode` is the errno of the failing call (0 when no system call failed).
std::string diagnosticTail(const std::string& path, int errorCode);

}  // namespace io::filesystem
