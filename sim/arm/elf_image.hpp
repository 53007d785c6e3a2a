// The firmware's ARM image as a flasher sees it: the bytes of each loadable
// segment at its load address, and the symbol table by name.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim::arm {

struct ImageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Segment {
    uint32_t load_address;  // p_paddr: .data's image lies in flash
    std::vector<uint8_t> bytes;
};

struct ElfImage {
    std::vector<Segment> segments;
    std::map<std::string, uint32_t> symbols;

    /// The symbol's value; ImageError naming it when the image lacks it.
    uint32_t symbol(const std::string& name) const;
    /// The word the image loads at `address`, if a segment holds all of it.
    std::optional<uint32_t> word_at(uint32_t address) const;
    /// The function whose address range holds `address`, for reports ("?" if none).
    std::string function_at(uint32_t address) const;
    std::map<uint32_t, std::pair<std::string, uint32_t>> functions;  // start -> name, size
};

/// Reads an ELF32 little-endian ARM executable; ImageError says what is wrong.
ElfImage load_elf(const std::string& path);

}  // namespace sim::arm
