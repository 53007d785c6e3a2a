#include "sim/arm/elf_image.hpp"

#include <cstring>
#include <fstream>
#include <iterator>

namespace sim::arm {

namespace {

constexpr uint16_t kEmArm = 40;
constexpr uint32_t kPtLoad = 1;
constexpr uint32_t kShtSymtab = 2;
constexpr uint8_t kSttFunc = 2;

struct Reader {
    const std::vector<uint8_t>& file;
    const std::string& path;

    template <class T>
    T at(uint64_t offset) const {
        if (offset + sizeof(T) > file.size()) {
            throw ImageError(path + ": cut off (a header points past the end of the file)");
        }
        T value;
        std::memcpy(&value, file.data() + offset, sizeof(T));
        return value;
    }
    void need(uint64_t offset, uint64_t size) const {
        if (offset + size > file.size()) {
            throw ImageError(path +
                             ": cut off (a segment or section lies past the end of the file)");
        }
    }
};

}  // namespace

uint32_t ElfImage::symbol(const std::string& name) const {
    const auto it = symbols.find(name);
    if (it == symbols.end()) {
        throw ImageError("the image has no symbol " + name);
    }
    return it->second;
}

std::optional<uint32_t> ElfImage::word_at(uint32_t address) const {
    for (const Segment& s : segments) {
        if (address >= s.load_address && address - s.load_address + 4 <= s.bytes.size()) {
            uint32_t w;
            std::memcpy(&w, s.bytes.data() + (address - s.load_address), 4);
            return w;
        }
    }
    return std::nullopt;
}

std::string ElfImage::function_at(uint32_t address) const {
    auto it = functions.upper_bound(address | 1U);
    if (it == functions.begin()) {
        return "?";
    }
    --it;
    const uint32_t start = it->first & ~1U;
    return address < start + std::max(it->second.second, 2U) ? it->second.first : "?";
}

ElfImage load_elf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ImageError(path + ": cannot be opened");
    }
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    const Reader r{file, path};
    if (file.size() < 52 || std::memcmp(file.data(),
                                        "\x7f"
                                        "ELF",
                                        4) != 0) {
        throw ImageError(path + ": not an ELF file");
    }
    if (file[4] != 1 || file[5] != 1 || r.at<uint16_t>(18) != kEmArm) {
        throw ImageError(path + ": not a 32-bit little-endian ARM image");
    }
    ElfImage image;
    const uint32_t phoff = r.at<uint32_t>(28);
    const uint16_t phentsize = r.at<uint16_t>(42);
    const uint16_t phnum = r.at<uint16_t>(44);
    for (uint32_t i = 0; i < phnum; ++i) {
        const uint64_t ph = uint64_t{phoff} + uint64_t{i} * phentsize;
        if (r.at<uint32_t>(ph) != kPtLoad || r.at<uint32_t>(ph + 16) == 0) {
            continue;
        }
        const uint32_t offset = r.at<uint32_t>(ph + 4);
        const uint32_t filesz = r.at<uint32_t>(ph + 16);
        r.need(offset, filesz);
        image.segments.push_back(
            {r.at<uint32_t>(ph + 12), {file.begin() + offset, file.begin() + offset + filesz}});
    }
    if (image.segments.empty()) {
        throw ImageError(path + ": no loadable segment");
    }
    const uint32_t shoff = r.at<uint32_t>(32);
    const uint16_t shentsize = r.at<uint16_t>(46);
    const uint16_t shnum = r.at<uint16_t>(48);
    for (uint32_t i = 0; i < shnum; ++i) {
        const uint64_t sh = uint64_t{shoff} + uint64_t{i} * shentsize;
        if (r.at<uint32_t>(sh + 4) != kShtSymtab) {
            continue;
        }
        const uint32_t link = r.at<uint32_t>(sh + 24);
        const uint32_t strings = r.at<uint32_t>(uint64_t{shoff} + uint64_t{link} * shentsize + 16);
        const uint32_t offset = r.at<uint32_t>(sh + 16);
        const uint32_t size = r.at<uint32_t>(sh + 20);
        r.need(offset, size);
        for (uint32_t s = 16; s + 16 <= size; s += 16) {  // entry 0 is the null symbol
            const uint32_t name = r.at<uint32_t>(uint64_t{offset} + s);
            const uint32_t value = r.at<uint32_t>(uint64_t{offset} + s + 4);
            const uint32_t sym_size = r.at<uint32_t>(uint64_t{offset} + s + 8);
            const uint8_t info = r.at<uint8_t>(uint64_t{offset} + s + 12);
            const uint64_t at = uint64_t{strings} + name;
            r.need(at, 1);
            const auto* begin = reinterpret_cast<const char*>(file.data() + at);
            const std::string symbol(begin, strnlen(begin, file.size() - at));
            if (symbol.empty() || symbol[0] == '$') {
                continue;  // mapping symbols ($t, $d)
            }
            image.symbols.emplace(symbol, value);
            if ((info & 0xF) == kSttFunc) {
                image.functions[value] = {symbol, sym_size};
            }
        }
    }
    return image;
}

}  // namespace sim::arm
