#include "posix/signals/ExceptionCode.h"

#include <signal.h>

namespace posix::signals {

namespace {

constexpr std::uint32_t AccessViolation = 0xC0000005;
constexpr std::uint32_t ArrayBoundsExceeded = 0xC000008C;
constexpr std::uint32_t DatatypeMisalignment = 0x80000002;
constexpr std::uint32_t FloatDivideByZero = 0xC000008E;
constexpr std::uint32_t FloatInexactResult = 0xC000008F;
constexpr std::uint32_t FloatInvalidOperation = 0xC0000090;
constexpr std::uint32_t FloatOverflow = 0xC0000091;
constexpr std::uint32_t FloatUnderflow = 0xC0000093;
constexpr std::uint32_t IllegalInstruction = 0xC000001D;
constexpr std::uint32_t InPageError = 0xC0000006;
constexpr std::uint32_t IntegerDivideByZero = 0xC0000094;
constexpr std::uint32_t IntegerOverflow = 0xC0000095;

constexpr std::uint32_t AllCodes[] = {AccessViolation,   ArrayBoundsExceeded, DatatypeMisalignment,
                                      FloatDivideByZero, FloatInexactResult,  FloatInvalidOperation,
                                      FloatOverflow,     FloatUnderflow,      IllegalInstruction,
                                      InPageError,       IntegerDivideByZero, IntegerOverflow};

std::uint32_t floatingPointCode(int siCode) noexcept {
    switch (siCode) {
        case FPE_INTDIV:
            return IntegerDivideByZero;
        case FPE_INTOVF:
            return IntegerOverflow;
        case FPE_FLTDIV:
            return FloatDivideByZero;
        case FPE_FLTOVF:
            return FloatOverflow;
        case FPE_FLTUND:
            return FloatUnderflow;
        case FPE_FLTRES:
            return FloatInexactResult;
        case FPE_FLTSUB:
            return ArrayBoundsExceeded;
        default:
            return FloatInvalidOperation;  // FPE_FLTINV and anything unnamed
    }
}

}  // namespace

std::uint32_t exceptionCodeForSignal(int signal, int siCode) noexcept {
    switch (signal) {
        case SIGSEGV:
            return AccessViolation;
        case SIGBUS:
            return siCode == BUS_ADRALN ? DatatypeMisalignment : InPageError;
        case SIGILL:
            return IllegalInstruction;
        case SIGFPE:
            return floatingPointCode(siCode);
        default:
            return 0;
    }
}

std::span<const std::uint32_t> fatalSignalExceptionCodes() noexcept {
    return AllCodes;
}

}  // namespace posix::signals
