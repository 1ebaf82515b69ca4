#pragma once

// The process-wide routine through which low-level code reports a failed internal check: a broken
// precondition or invariant, never a caller error (those are thrown). It prints a report to
// standard output, appends it to "assertion.txt" in the working directory and ends the process
// abnormally. It does not use the server log, so it works before the log exists and from any
// thread. The checks always run, whatever NDEBUG says.

namespace debug {

[[noreturn]] void assertion(const char* expression, const char* description, const char* file,
                            int line) noexcept;

}  // namespace debug

// QM_ASSERT(cond, description): the expression text of the report is the condition as written.
#define QM_ASSERT(condition, description) \
    ((condition) ? static_cast<void>(0)   \
                 : ::debug::assertion(#condition, description, __FILE__, __LINE__))

// QM_ASSERT_TEXT(cond, text, description): for checks whose reported expression text differs
// from the C++ condition that implements it.
#define QM_ASSERT_TEXT(condition, expressionText, description) \
    ((condition) ? static_cast<void>(0)                        \
                 : ::debug::assertion(expressionText, description, __FILE__, __LINE__))
