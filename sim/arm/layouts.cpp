#include "sim/arm/layouts.hpp"

#include <cstddef>
#include <cstring>

#include "cmsis_os2.h"
#include "mf4010v2.h"
#include "pid.h"
#include "stm32f4xx_hal.h"

namespace sim::arm {

namespace {

struct HostField {
    std::type_index record;
    const char* name;
    uint32_t offset, size;
};
#define GIMBAL_LAYOUT(record, field)                              \
    {typeid(record), #record "." #field, offsetof(record, field), \
     sizeof(static_cast<record*>(nullptr)->field)},
const HostField kHostFields[] = {
#include "layouts.def"
};
#undef GIMBAL_LAYOUT

constexpr uint32_t kTableWords = 1;  // the field count before the pairs

bool integer_size(uint32_t size) {
    return size == 1 || size == 2 || size == 4 || size == 8;
}

}  // namespace

Layouts::Layouts(const ElfImage& image, Guest guest, Fail fail)
    : guest_(std::move(guest)), fail_(std::move(fail)) {
    const uint32_t table = image.symbol("gimbal_vb_layouts");
    const auto word = [&](uint32_t index) {
        const std::optional<uint32_t> w = image.word_at(table + 4 * index);
        if (!w) {
            throw ImageError("gimbal_vb_layouts lies outside the image's loaded bytes");
        }
        return *w;
    };
    const std::size_t count = std::size(kHostFields);
    if (word(0) != count) {
        throw ImageError("the image lays out " + std::to_string(word(0)) +
                         " record fields, this emulator knows " + std::to_string(count) +
                         " (platform/vb/layouts.def): rebuild both");
    }
    for (std::size_t i = 0; i < count; ++i) {
        const HostField& h = kHostFields[i];
        const uint32_t offset = word(kTableWords + 2 * static_cast<uint32_t>(i));
        const uint32_t size = word(kTableWords + 2 * static_cast<uint32_t>(i) + 1);
        if (!integer_size(size) || size > 4 || !integer_size(h.size)) {
            throw ImageError(std::string(h.name) + " is " + std::to_string(size) +
                             " bytes in the image: not a word, halfword or byte");
        }
        fields_.push_back({h.name, h.offset, h.size, offset, size});
        auto [it, fresh] = records_.try_emplace(h.record, Record{i, i, 0});
        if (!fresh && it->second.end != i) {
            throw ImageError(std::string(h.name) + ": the fields of a record must stay together");
        }
        it->second.end = i + 1;
        it->second.guest_bytes = std::max(it->second.guest_bytes, offset + size);
    }
}

void Layouts::copy(std::type_index type, uint32_t guest, uint8_t* host, bool in) const {
    const Record& r = records_.at(type);
    const char* name = fields_[r.first].name;
    if (guest == 0 || !guest_.memory(guest, r.guest_bytes)) {
        fail_(std::string(name, std::strchr(name, '.')) + " at " + std::to_string(guest) +
              " is not in the image's memory");
        return;
    }
    auto* image = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(guest));
    for (std::size_t i = r.first; i < r.end; ++i) {
        const Field& f = fields_[i];
        uint64_t value = 0;  // little-endian on both sides
        if (in) {
            std::memcpy(&value, image + f.guest_offset, f.guest_size);
            // A pointer field (wider on the host) holds a guest address,
            // which is the same address in this process.
            if (f.host_size > f.guest_size && f.host_size == 8 && value != 0 &&
                !guest_.pointer(static_cast<uint32_t>(value))) {
                fail_(std::string(f.name) + " points to " + std::to_string(value) +
                      ", neither memory nor a register block");
                return;
            }
            std::memcpy(host + f.host_offset, &value, f.host_size);
        } else {
            std::memcpy(&value, host + f.host_offset, f.host_size);
            if (f.guest_size < 8 && (value >> (8 * f.guest_size)) != 0 && f.host_size == 8) {
                fail_(std::string(f.name) + " holds a host pointer the image cannot keep");
                return;
            }
            std::memcpy(image + f.guest_offset, &value, f.guest_size);
        }
    }
}

}  // namespace sim::arm
