#include "debug/assertion.h"

// The standard assertion failure must stay reachable in release builds.
#undef NDEBUG
#include <assert.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "debug/TimeText.h"

namespace debug {

namespace {

// The report is assembled in a fixed buffer: the routine may run when memory is exhausted.
class ReportBuffer {
public:
    void append(const char* text) {
        for (; text != nullptr && *text != '\0' && _length + 1 < sizeof _text; ++text) {
            _text[_length++] = *text;
        }
        _text[_length] = '\0';
    }
    const char* text() const { return _text; }
    std::size_t length() const { return _length; }

private:
    char _text[16384] = {};
    std::size_t _length = 0;
};

ReportBuffer& reportBuffer() {
    // One static buffer: a failed check ends the process, and concurrent failures only need to
    // produce some report, not an interleaving-free one.
    static ReportBuffer buffer;
    return buffer;
}

}  // namespace

void assertion(const char* expression, const char* description, const char* file,
               int line) noexcept {
    char time[64] = "????????????????????????";
    formatTimeText(std::time(nullptr), time, sizeof time);
    char lineText[16];
    std::snprintf(lineText, sizeof lineText, "%d", line);

    ReportBuffer& report = reportBuffer();
    report.append("----------------------------------------\nAssertion failed. Message: ");
    report.append(expression);
    report.append("\n");
    if (description != nullptr) {
        report.append("Description: ");
        report.append(description);
        report.append("\n");
    }
    report.append("File: ");
    report.append(file);
    report.append("\nLine: ");
    report.append(lineText);
    report.append("\nOccurred: ");
    report.append(time);
    report.append(
        "\n\nPlease contact the developers and include this message.\n"
        "Thank you for helping us improve the software.\n"
        "----------------------------------------\n\n");

    std::fwrite(report.text(), 1, report.length(), stdout);
    std::fflush(stdout);

    if (std::FILE* out = std::fopen("assertion.txt", "ab")) {
        std::fwrite(report.text(), 1, report.length(), out);
        std::fclose(out);
    }

    __assert_fail("false", "debug/assertion", __LINE__, __func__);
}

}  // namespace debug
