// Numbers are written exactly as std::to_chars writes them with six significant digits (printf's
// "%.6g"), whichever way they are found.
#include "server/ResponseDocument.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace norvale::quillmark {
namespace {

std::string reference(double value) {
    char buffer[32];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    return std::string(buffer, written.ptr);
}

TEST(ResponseDocumentTest, NumbersAreWrittenAsPrintfWritesThemWithSixDigits) {
    constexpr double Infinity = std::numeric_limits<double>::infinity();
    using Limits = std::numeric_limits<double>;
    // With the powers of ten below.
    std::vector<double> values = {0.0,           -0.0,          0.78125,
                                  0.000123456,   999999.5,      999999.4999999,
                                  9.999995e-5,   123456789.0,   5e-324,
                                  -2.5,          Infinity,      -Infinity,
                                  Limits::max(), Limits::min(), Limits::quiet_NaN()};
    // Every power of ten, and the halfway points between six-digit numbers, with their neighbours.
    for (int exponent = -300; exponent <= 300; ++exponent) {
        const double power = std::pow(10.0, exponent);
        for (const double base : {power, 1.000005 * power, 9.999995 * power, 1.234565 * power}) {
            values.push_back(base);
            values.push_back(std::nextafter(base, 0.0));
            values.push_back(std::nextafter(base, Infinity));
        }
    }
    // Random bit patterns across every exponent, and probabilities as the engine writes them.
    std::mt19937_64 random(7);
    for (int i = 0; i < 200000; ++i) {
        values.push_back(std::bit_cast<double>(random()));
        values.push_back(std::uniform_real_distribution<double>(0.0, 1.0)(random));
        values.push_back(std::exp(-std::uniform_real_distribution<double>(0.0, 700.0)(random)));
    }
    std::size_t wrong = 0;
    for (const double value : values) {
        if (responseDocument::number(value) != reference(value) && ++wrong <= 5) {
            ADD_FAILURE() << std::hexfloat << value << ": " << responseDocument::number(value)
                          << " instead of " << reference(value);
        }
    }
    EXPECT_EQ(0u, wrong);
}

}  // namespace
}  // namespace norvale::quillmark
