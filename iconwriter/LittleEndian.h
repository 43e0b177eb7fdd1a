#pragma once
// Little-endian integers as the icon format stores them, for the writers in
// this folder.

#include <cstdint>

namespace iconbytes {

inline void PutU16(std::uint8_t* out, std::uint16_t value) {
    out[0] = std::uint8_t(value);
    out[1] = std::uint8_t(value >> 8);
}

inline void PutU32(std::uint8_t* out, std::uint32_t value) {
    out[0] = std::uint8_t(value);
    out[1] = std::uint8_t(value >> 8);
    out[2] = std::uint8_t(value >> 16);
    out[3] = std::uint8_t(value >> 24);
}

inline void PutI32(std::uint8_t* out, std::int32_t value) { PutU32(out, std::uint32_t(value)); }

inline std::uint32_t GetU32(const std::uint8_t* in) {
    return std::uint32_t(in[0]) | std::uint32_t(in[1]) << 8 | std::uint32_t(in[2]) << 16 | std::uint32_t(in[3]) << 24;
}

}  // namespace iconbytes
