#include "sim/models/rcc.hpp"

namespace sim {

namespace {
constexpr uint32_t kHsiOn = 1u << 0, kHsiRdy = 1u << 1, kHseOn = 1u << 16, kHseRdy = 1u << 17,
                   kPllOn = 1u << 24, kPllRdy = 1u << 25;
constexpr Picos kHseStartup = 2 * kPsPerMs;  // crystal start-up
constexpr Picos kPllLock = 100 * kPsPerUs;
constexpr uint32_t kAhbShift[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 6, 7, 8, 9};
constexpr uint32_t kApbShift[8] = {0, 0, 0, 0, 1, 2, 3, 4};
}  // namespace

Rcc::Rcc(Cpu& cpu, bool crystal_fitted)
    : cpu_(cpu),
      crystal_(crystal_fitted),
      hse_ready_([this](Picos) {
          reg(CR) |= kHseRdy;
          update();
      }),
      pll_locked_([this](Picos) {
          reg(CR) |= kPllRdy;
          update();
      }) {}

void Rcc::reset() {
    reg(CR) = 0x00000083;
    reg(PLLCFGR) = 0x24003010;
    reg(CFGR) = 0;
    update();
}

uint32_t Rcc::read(uint32_t offset, uint32_t& cell) {
    (void)offset;
    return cell;
}

void Rcc::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    if (offset == CR) {
        const uint32_t ready_bits = kHsiRdy | kHseRdy | kPllRdy;
        uint32_t next = (value & ~ready_bits) | (cell & ready_bits);
        if ((value & kHseOn) && !(cell & kHseOn) && crystal_) {
            cpu_.events().schedule(hse_ready_, cpu_.now() + kHseStartup);
        }
        if (!(value & kHseOn)) {
            cpu_.events().cancel(hse_ready_);
            next &= ~kHseRdy;
        }
        if ((value & kPllOn) && !(cell & kPllOn)) {
            cpu_.events().schedule(pll_locked_, cpu_.now() + kPllLock);
        }
        if (!(value & kPllOn)) {
            cpu_.events().cancel(pll_locked_);
            next &= ~kPllRdy;
        }
        next |= kHsiOn & value ? kHsiRdy : 0;
        cell = next;
    } else if (offset == CFGR) {
        // The switch status follows the request when the source is ready.
        const uint32_t sw = value & 0x3;
        const uint32_t cr = reg(CR);
        const bool ready = (sw == 0 && (cr & kHsiRdy)) || (sw == 1 && (cr & kHseRdy)) ||
                           (sw == 2 && (cr & kPllRdy));
        const uint32_t sws = ready ? sw : ((cell >> 2) & 0x3);
        cell = (value & ~0xCu) | (sws << 2);
    } else {
        cell = value;
    }
    update();
}

uint32_t Rcc::sysclk_hz() const {
    const uint32_t cfgr = reg(CFGR);
    switch ((cfgr >> 2) & 0x3) {
        case 1:
            return kHseHz;
        case 2: {
            const uint32_t pll = reg(PLLCFGR);
            const uint64_t in = (pll & (1u << 22)) ? kHseHz : kHsiHz;
            const uint32_t m = pll & 0x3F;
            const uint32_t n = (pll >> 6) & 0x1FF;
            const uint32_t p = (((pll >> 16) & 0x3) + 1) * 2;
            return m == 0 ? 0 : static_cast<uint32_t>(in / m * n / p);
        }
        default:
            return kHsiHz;
    }
}

uint32_t Rcc::pclk1_hz() const {
    return hclk_hz_ >> kApbShift[(reg(CFGR) >> 10) & 0x7];
}

uint32_t Rcc::pclk2_hz() const {
    return hclk_hz_ >> kApbShift[(reg(CFGR) >> 13) & 0x7];
}

uint32_t Rcc::apb2_timer_hz() const {
    const bool divided = ((reg(CFGR) >> 13) & 0x7) >= 4;
    return divided ? 2 * pclk2_hz() : pclk2_hz();
}

bool Rcc::gate(uint32_t enr_offset, uint32_t bit) const {
    return (reg(enr_offset) & bit) != 0;
}

void Rcc::update() {
    const uint32_t hclk = sysclk_hz() >> kAhbShift[(reg(CFGR) >> 4) & 0xF];
    hclk_hz_ = hclk;
    for (auto& listener : listeners_) {
        listener();
    }
}

}  // namespace sim
