#include "server/ResponseDocument.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

#include "util/EscapeXml.h"
#include "util/Utf8.h"

namespace norvale::quillmark::responseDocument {

std::string opening(std::string_view responseNamespace, std::string_view version) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<quillmark xmlns=\"";
    text += util::escapeXml(responseNamespace);
    text += "\" version=\"";
    text += util::escapeXml(version);
    text += "\">\n";
    return text;
}

std::string xmlCharacters(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = util::xmlCharacterLength(text, at);
        if (length == 0) {
            result += '?';
            ++at;
        } else {
            result.append(text, at, length);
            at += length;
        }
    }
    return result;
}

namespace {

constexpr double ExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// value * 10^exponent in steps by exact powers of ten, each step rounded once: at most 15 steps
// in the range sixDigits takes, so within 2e-15 of the exact product, relatively.
double timesPowerOfTen(double value, int exponent) {
    for (; exponent > 22; exponent -= 22) value *= 1e22;
    for (; exponent < -22; exponent += 22) value /= 1e22;
    return exponent >= 0 ? value * ExactPowersOfTen[exponent] : value / ExactPowersOfTen[-exponent];
}

struct SixDigits {
    std::uint32_t digits;  // 100000 to 999999
    int exponent;          // of the first digit
};

// The value rounded to six significant digits, as printf rounds it, when double arithmetic tells
// it beyond doubt: for finite positive values from 1e-290 to 1e290 that do not lie within 1e-7
// of halfway between two results (the arithmetic is off by at most 2e-9 there).
std::optional<SixDigits> sixDigits(double value) {
    if (!(value >= 1e-290 && value <= 1e290)) return std::nullopt;
    int binary = 0;
    std::frexp(value, &binary);
    // 2^(binary - 1) <= value < 2^binary, so this is the decimal exponent or one below it.
    int exponent = static_cast<int>(std::floor((binary - 1) * 0.30102999566398120));
    constexpr double Doubt = 1e-7;
    double scaled = timesPowerOfTen(value, 5 - exponent);
    if (std::abs(scaled - 999999.5) < Doubt) return std::nullopt;
    if (scaled > 999999.5) scaled = timesPowerOfTen(value, 5 - ++exponent);
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::abs(fraction - 0.5) < Doubt) return std::nullopt;
    const double rounded = whole + (fraction > 0.5 ? 1 : 0);
    if (rounded < 100000 || rounded > 999999) return std::nullopt;
    return SixDigits{static_cast<std::uint32_t>(rounded), exponent};
}

// Writes what printf's "%.6g" writes for the rounded value: plain notation for exponents from
// -4 to 5, else d.ddddde+XX; trailing zeros and a bare point left out.
char* writeGeneral(const SixDigits& value, char* out) {
    char digits[6];
    std::uint32_t rest = value.digits;
    for (int i = 5; i >= 0; --i, rest /= 10) digits[i] = static_cast<char>('0' + rest % 10);
    int significant = 6;
    while (significant > 1 && digits[significant - 1] == '0') --significant;
    const int exponent = value.exponent;
    if (exponent < -4 || exponent >= 6) {
        *out++ = digits[0];
        if (significant > 1) {
            *out++ = '.';
            out = std::copy(digits + 1, digits + significant, out);
        }
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
        *out++ = static_cast<char>('0' + magnitude / 10 % 10);
        *out++ = static_cast<char>('0' + magnitude % 10);
    } else if (exponent >= 0) {
        out = std::copy(digits, digits + exponent + 1, out);
        if (significant > exponent + 1) {
            *out++ = '.';
            out = std::copy(digits + exponent + 1, digits + significant, out);
        }
    } else {
        *out++ = '0';
        *out++ = '.';
        out = std::fill_n(out, -exponent - 1, '0');
        out = std::copy(digits, digits + significant, out);
    }
    return out;
}

}  // namespace

// The text printf's "%.6g" writes, without printf's cost: most values are written from six
// digits found with double arithmetic; the rest, and every value that arithmetic cannot round
// beyond doubt, by std::to_chars.
std::string number(double value) {
    char buffer[32];
    if (const std::optional<SixDigits> digits = sixDigits(value)) {
        return std::string(buffer, writeGeneral(*digits, buffer));
    }
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    return std::string(buffer, written.ptr);
}

}  // namespace norvale::quillmark::responseDocument
