#include "client/InputTexts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ios>
#include <iterator>
#include <new>
#include <sstream>
#include <system_error>

namespace norvale::quillmark::client {

namespace fs = std::filesystem;

namespace {

std::string describe(const std::error_code& error) {
    return error.message();
}

void addFolder(const std::string& folder, std::vector<InputText>& texts) {
    std::error_code error;
    std::vector<InputText> found;
    fs::recursive_directory_iterator entries(folder, error);
    // The folder being read: the iterator enters a folder (never a link to one) as it steps past
    // its entry, so a step that fails names the entry's folder, or the folder holding the entry.
    fs::path reading = folder;
    for (; !error && entries != fs::recursive_directory_iterator(); entries.increment(error)) {
        std::error_code statusError;
        reading = entries->is_directory(statusError) && !entries->is_symlink(statusError)
                      ? entries->path()
                      : entries->path().parent_path();
        if (!entries->is_regular_file(statusError)) continue;
        const std::uint64_t size = entries->file_size(statusError);
        if (statusError) {
            throw InputException("Cannot read '" + entries->path().string() +
                                 "': " + describe(statusError) + ".");
        }
        found.push_back({entries->path().string(), size, false});
    }
    if (error) {
        throw InputException("Cannot read the folder '" + reading.string() +
                             "': " + describe(error) + ".");
    }
    // Most likely a wrong path; sending nothing would look like success.
    if (found.empty()) throw InputException("The folder '" + folder + "' holds no files.");
    std::sort(found.begin(), found.end(),
              [](const InputText& a, const InputText& b) { return a.label < b.label; });
    texts.insert(texts.end(), found.begin(), found.end());
}

}  // namespace

InputTexts::InputTexts(std::istream* standardInput) : _standardInput(standardInput) {}

std::vector<InputText> InputTexts::collect(const std::vector<std::string>& arguments) const {
    std::vector<InputText> texts;
    if (arguments.empty()) texts.push_back({"-", 0, true});
    for (const std::string& argument : arguments) {
        if (argument == "-") {
            texts.push_back({"-", 0, true});
            continue;
        }
        std::error_code error;
        const fs::file_status status = fs::status(argument, error);
        if (error) {
            throw InputException("Cannot read '" + argument + "': " + describe(error) + ".");
        }
        if (fs::is_directory(status)) {
            addFolder(argument, texts);
        } else if (!fs::is_regular_file(status)) {
            // A pipe such as the shell's <(command), or a device: read as a stream when sent,
            // its size unknown until then.
            texts.push_back({argument, 0, false});
        } else {
            const std::uint64_t size = fs::file_size(argument, error);
            if (error) {
                throw InputException("Cannot read '" + argument + "': " + describe(error) + ".");
            }
            texts.push_back({argument, size, false});
        }
    }
    return texts;
}

std::string InputTexts::read(const InputText& text) const {
    if (text.standardInput) {
        std::ostringstream bytes;
        try {
            bytes << _standardInput->rdbuf();
            if (_standardInput->bad()) throw InputException("Cannot read standard input.");
            // The copy stops without a word when the string cannot grow or a read fails: input
            // left means no memory for it, and a text cut short must not be sent; a read that
            // fails again throws.
            if (_standardInput->rdbuf()->sgetc() != std::char_traits<char>::eof()) {
                throw std::bad_alloc();
            }
        } catch (const std::ios_base::failure& e) {
            // A closed descriptor or a folder given as standard input: unreadable, as a file.
            throw InputException("Cannot read standard input: " + describe(e.code()) + ".");
        }
        return std::move(bytes).str();
    }
    std::ifstream file(text.label, std::ios::binary);
    if (!file) {
        throw InputException("Cannot read '" + text.label + "': " + std::strerror(errno) + ".");
    }
    std::string bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure& e) {
        // How the standard library reports a failed read, whatever the stream's exception mask.
        throw InputException("Cannot read '" + text.label + "': " + describe(e.code()) + ".");
    }
    if (file.bad()) {
        throw InputException("Cannot read '" + text.label + "': " + std::strerror(errno) + ".");
    }
    return bytes;
}

}  // namespace norvale::quillmark::client
