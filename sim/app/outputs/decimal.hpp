// Fixed-point decimals exactly as printf's "%.*f" writes them, for the
// streamed files' columns: most of a run's formatting, and to_chars' general
// path costs about 500 instructions a number.
#pragma once

#include <bit>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <string>

namespace sim {

/// Writes `value` with `decimals` digits after the point at `out` (room for
/// DBL_MAX_10_EXP + 64 characters) and returns the end. The value's exact
/// binary fraction is rounded half to even, as printf and to_chars do; a
/// value the integer path cannot hold goes to to_chars.
inline char* put_fixed(char* out, double value, int decimals) {
    static constexpr uint64_t kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const int biased = static_cast<int>(bits >> 52 & 0x7ff);
    // Below 2^30 the scaled value fits 64 bits for up to 6 decimals.
    if (decimals < 0 || decimals > 6 || biased >= 1023 + 30) {
        return std::to_chars(out, out + DBL_MAX_10_EXP + 64, value, std::chars_format::fixed,
                             decimals)
            .ptr;
    }
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    int exponent = 1 - 1075;  // value = mantissa * 2^exponent
    if (biased != 0) {
        mantissa |= uint64_t{1} << 52;
        exponent = biased - 1075;
    }
    const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * kPow10[decimals];
    const int shift = -exponent;  // at least 23 here
    uint64_t q = 0;
    if (shift < 100) {
        q = static_cast<uint64_t>(scaled >> shift);
        const unsigned __int128 rest = scaled & ((static_cast<unsigned __int128>(1) << shift) - 1);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
        if (rest > half || (rest == half && (q & 1) != 0)) {
            q++;
        }
    }  // else below 2^-76: rounds to zero at any of these precisions
    if ((bits >> 63) != 0) {
        *out++ = '-';
    }
    out = std::to_chars(out, out + 24, q / kPow10[decimals]).ptr;
    if (decimals > 0) {
        *out++ = '.';
        uint64_t fraction = q % kPow10[decimals];
        for (int i = decimals - 1; i >= 0; i--) {
            out[i] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        out += decimals;
    }
    return out;
}

inline void append_fixed(std::string& out, double value, int decimals) {
    char text[DBL_MAX_10_EXP + 64];
    out.append(text, put_fixed(text, value, decimals));
}

}  // namespace sim
