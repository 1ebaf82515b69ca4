#pragma once

// Builds classifier blobs byte by byte for tests, from the stored layouts: little-endian
// integers and doubles, length-prefixed strings, the format 5 header and the blocks of the old
// formats 3 and 4.

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvale::classifier::blobtest {

inline std::string u16(std::uint16_t value) {
    return {static_cast<char>(value), static_cast<char>(value >> 8)};
}

inline std::string u32(std::uint32_t value) {
    return u16(static_cast<std::uint16_t>(value)) + u16(static_cast<std::uint16_t>(value >> 16));
}

inline std::string f64(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    return u32(static_cast<std::uint32_t>(bits)) + u32(static_cast<std::uint32_t>(bits >> 32));
}

// A u32 length, then the bytes.
inline std::string str(std::string_view text) {
    return u32(static_cast<std::uint32_t>(text.size())) + std::string(text);
}

// The 16 bytes in front of a format 5 feature set.
inline std::string header(std::uint32_t extractorVersion, double smoothing = 0.05,
                          std::uint32_t formatVersion = 5) {
    return u32(formatVersion) + u32(extractorVersion) + f64(smoothing);
}

// A feature set without classes: a u16 zero and 32 empty lanes.
inline std::string emptyPayload() {
    std::string payload = u16(0);
    for (int k = 0; k < 32; ++k) payload += u32(0);
    return payload;
}

// One record of an old token lane: the token's bytes, then its count.
inline std::string tokenRecord(std::string_view token, std::uint32_t count) {
    return std::string(token) + u32(count);
}

// An old token distribution block: the lane count, then each lane's byte length and bytes.
inline std::string distributionBlock(const std::vector<std::string>& lanes) {
    std::string block = u32(static_cast<std::uint32_t>(lanes.size()));
    for (const std::string& lane : lanes) block += str(lane);
    return block;
}

// An old blob: format version, class count, then the classes (each a name and a block).
inline std::string legacyBlob(std::uint32_t version, std::uint32_t classCount,
                              const std::string& classes) {
    return u32(version) + u32(classCount) + classes;
}

inline std::string legacyClass(std::string_view name, const std::string& block) {
    return str(name) + block;
}

}  // namespace norvale::classifier::blobtest
