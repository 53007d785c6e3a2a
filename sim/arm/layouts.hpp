// The HAL's and the kernel's records as they cross a bridge: the image's
// compiler lays each out for the chip, the host's for the host (8-byte
// pointers, 4-byte enums). Both follow platform/vb/layouts.def; the image
// keeps its offsets and sizes (gimbal_vb_layouts), read here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "sim/arm/elf_image.hpp"

namespace sim::arm {

class Layouts {
  public:
    /// What a copy does with a bad record: `what` names the record or field.
    using Fail = std::function<void(const std::string& what)>;
    /// Whether [address, address + size) is guest memory, and whether an
    /// address is one a pointer field may hold (memory or a register block).
    struct Guest {
        std::function<bool(uint32_t address, uint32_t size)> memory;
        std::function<bool(uint32_t address)> pointer;
    };

    /// The image's table; ImageError if it lacks one or it does not match
    /// the list this emulator was built with.
    Layouts(const ElfImage& image, Guest guest, Fail fail);

    /// The image's record at `guest` into the host's.
    template <class T>
    void load(uint32_t guest, T& host) const {
        copy(typeid(T), guest, reinterpret_cast<uint8_t*>(&host), true);
    }
    /// The host's record into the image's at `guest`.
    template <class T>
    void store(const T& host, uint32_t guest) const {
        copy(typeid(T), guest, const_cast<uint8_t*>(reinterpret_cast<const uint8_t*>(&host)),
             false);
    }

  private:
    struct Field {
        const char* name;  // "record.field"
        uint32_t host_offset, host_size;
        uint32_t guest_offset, guest_size;
    };
    struct Record {
        std::size_t first, end;  // in fields_
        uint32_t guest_bytes;    // up to the end of its last field
    };
    void copy(std::type_index type, uint32_t guest, uint8_t* host, bool in) const;

    std::vector<Field> fields_;
    std::unordered_map<std::type_index, Record> records_;
    Guest guest_;
    Fail fail_;
};

}  // namespace sim::arm
