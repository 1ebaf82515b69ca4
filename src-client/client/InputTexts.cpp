#include "client/InputTexts.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ios>
#include <streambuf>
#include <system_error>

#include "io/filesystem/FileDescriptor.h"

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

std::string tooLarge(const std::string& name, std::uint64_t bound) {
    constexpr std::uint64_t GiB = std::uint64_t{1} << 30;
    return name + " holds more than " +
           (bound % GiB == 0 ? std::to_string(bound / GiB) + " GiB"
                             : std::to_string(bound) + " bytes") +
           ", the most the client sends as one text.";
}

// Standard input given as a stream: the bytes of `source` up to its end, at most `bound` of them;
// `name` names it in messages. A stream buffer reports a failed read by throwing
// std::ios_base::failure.
std::string readBounded(std::streambuf& source, const std::string& name, std::uint64_t bound) {
    std::string bytes;
    char block[65536];
    for (;;) {
        const auto got = static_cast<std::size_t>(source.sgetn(block, sizeof block));
        if (bytes.size() + got > bound) throw InputException(tooLarge(name, bound));
        bytes.append(block, got);
        // A short block is the end: a terminal would wait for more after its end of input.
        if (got < sizeof block) return bytes;
    }
}

// Waits until `descriptor` has bytes or its end to read (a negative `interrupt` is left out);
// throws InputInterruptedException once `interrupt` is readable. A failed wait is left to the
// read to report.
void awaitReadable(int descriptor, int interrupt) {
    pollfd entries[2] = {{descriptor, POLLIN, 0}, {interrupt, POLLIN, 0}};
    while (::poll(entries, 2, -1) < 0 && errno == EINTR) {
    }
    if (entries[1].revents != 0) throw InputInterruptedException("Interrupted while reading.");
}

}  // namespace

InputTexts::InputTexts(std::istream* standardInput, std::uint64_t maxTextBytes,
                       int standardInputDescriptor, int interruptDescriptor)
    : _standardInput(standardInput),
      _maxTextBytes(maxTextBytes),
      _standardInputDescriptor(standardInputDescriptor),
      _interruptDescriptor(interruptDescriptor) {}

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
            if (size > _maxTextBytes)
                throw InputException(tooLarge("'" + argument + "'", _maxTextBytes));
            texts.push_back({argument, size, false});
        }
    }
    return texts;
}

std::string InputTexts::read(const InputText& text) const {
    if (text.standardInput && _standardInputDescriptor >= 0) {
        return readDescriptor(_standardInputDescriptor, text);
    }
    if (text.standardInput) {
        if (_standardInput->bad()) throw InputException("Cannot read standard input.");
        try {
            return readBounded(*_standardInput->rdbuf(), "Standard input", _maxTextBytes);
        } catch (const std::ios_base::failure& e) {
            // A closed descriptor or a folder given as standard input: unreadable, as a file.
            throw InputException("Cannot read standard input: " + describe(e.code()) + ".");
        }
    }
    // Without O_NONBLOCK, opening a pipe that has no writer yet would wait where Ctrl-C cannot
    // end it.
    const io::filesystem::FileDescriptor file(
        ::open(text.label.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) {
        throw InputException("Cannot read '" + text.label + "': " + std::strerror(errno) + ".");
    }
    return readDescriptor(file.get(), text);
}

std::string InputTexts::readDescriptor(int descriptor, const InputText& text) const {
    const std::string path = "'" + text.label + "'";
    std::string bytes;
    char block[65536];
    for (;;) {
        awaitReadable(descriptor, _interruptDescriptor);
        const ssize_t got = ::read(descriptor, block, sizeof block);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got < 0) {
            throw InputException("Cannot read " + (text.standardInput ? "standard input" : path) +
                                 ": " + std::strerror(errno) + ".");
        }
        if (got == 0) return bytes;
        if (bytes.size() + static_cast<std::size_t>(got) > _maxTextBytes) {
            throw InputException(
                tooLarge(text.standardInput ? "Standard input" : path, _maxTextBytes));
        }
        bytes.append(block, static_cast<std::size_t>(got));
    }
}

}  // namespace norvale::quillmark::client
