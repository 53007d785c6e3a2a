#include "sim/models/rcc.hpp"

#include <cstdio>

namespace sim {

namespace {
constexpr uint32_t kHsiOn = 1u << 0, kHsiRdy = 1u << 1, kHseOn = 1u << 16, kHseRdy = 1u << 17,
                   kPllOn = 1u << 24, kPllRdy = 1u << 25;
constexpr Picos kHseStartup = 2 * kPsPerMs;  // crystal start-up
constexpr Picos kPllLock = 100 * kPsPerUs;
constexpr uint32_t kAhbShift[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 6, 7, 8, 9};
constexpr uint32_t kApbShift[8] = {0, 0, 0, 0, 1, 2, 3, 4};
constexpr uint32_t kMHz = 1000000;

// The clock tree's limits. DS8626, "General operating conditions": fHCLK at
// most 168 MHz, fPCLK1 42 MHz, fPCLK2 84 MHz. RM0090, PWR_CR VOS: in scale 2
// HCLK is at most 144 MHz. RM0090, RCC_PLLCFGR (and DS8626, "Main PLL
// characteristics"): VCO input 1 to 2 MHz, VCO output 100 to 432 MHz,
// PLLM 2 to 63, PLLN 50 to 432, PLLQ 2 to 15 (PLLP 2/4/6/8 cannot be
// broken: its two bits encode only those).
constexpr uint32_t kHclkMax = 168 * kMHz, kHclkMaxScale2 = 144 * kMHz;
constexpr uint32_t kPclk1Max = 42 * kMHz, kPclk2Max = 84 * kMHz;
constexpr uint32_t kVcoInMin = 1 * kMHz, kVcoInMax = 2 * kMHz;
constexpr uint64_t kVcoOutMin = 100 * kMHz, kVcoOutMax = 432 * kMHz;
// DS8626, "HSE 4-26 MHz oscillator characteristics": the crystal's range.
static_assert(Rcc::kHseHz >= 4 * kMHz && Rcc::kHseHz <= 26 * kMHz);

// RM0090 Table 10, "Number of wait states according to CPU clock (HCLK)
// frequency", per supply range: each wait state adds `step` of HCLK
// (2.7-3.6 V: 0 WS up to 30 MHz, 1 up to 60, ... 5 up to 168). DS8626,
// "Limitations depending on the operating power supply range": at 1.8-2.1 V
// the core runs at most at 160 MHz.
struct SupplyRange {
    double min_v;
    const char* name;
    uint32_t step_hz;
    uint32_t hclk_max;
};
constexpr SupplyRange kSupplyRanges[] = {
    {2.7, "2.7-3.6 V", 30 * kMHz, 168 * kMHz},
    {2.4, "2.4-2.7 V", 24 * kMHz, 168 * kMHz},
    {2.1, "2.1-2.4 V", 22 * kMHz, 168 * kMHz},
    {1.8, "1.8-2.1 V", 20 * kMHz, 160 * kMHz},
};

const SupplyRange& supply_range(double v) {
    for (const SupplyRange& r : kSupplyRanges) {
        if (v >= r.min_v) {
            return r;
        }
    }
    return kSupplyRanges[3];  // the scenario refuses anything below 1.8 V
}

std::string mhz(uint64_t hz) {
    char text[32];
    std::snprintf(text, sizeof text, "%g MHz", static_cast<double>(hz) / kMHz);
    return text;
}

struct PllFactors {
    uint32_t in_hz, m, n, p, q;
    uint64_t vco_in() const { return m == 0 ? 0 : in_hz / m; }
    uint64_t vco_out() const { return vco_in() * n; }
};

PllFactors pll_factors(uint32_t pllcfgr) {
    return PllFactors{(pllcfgr & (1u << 22)) ? Rcc::kHseHz : Rcc::kHsiHz, pllcfgr & 0x3F,
                      (pllcfgr >> 6) & 0x1FF, (((pllcfgr >> 16) & 0x3) + 1) * 2,
                      (pllcfgr >> 24) & 0xF};
}
}  // namespace

Rcc::Rcc(Cpu& cpu, bool crystal_fitted, double supply_v)
    : cpu_(cpu),
      crystal_(crystal_fitted),
      supply_v_(supply_v),
      hse_ready_([this](Picos) {
          reg(CR) |= kHseRdy;
          switch_when_ready(false);
      }),
      pll_locked_([this](Picos) {
          reg(CR) |= kPllRdy;
          switch_when_ready(false);
      }) {}

void Rcc::reset() {
    reg(CR) = 0x00000083;
    reg(PLLCFGR) = 0x24003010;
    reg(CFGR) = 0;
    pll48_breach_ = false;
    update();
}

uint32_t Rcc::read(uint32_t offset, uint32_t& cell) {
    (void)offset;
    return cell;
}

void Rcc::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    const uint32_t sws = (reg(CFGR) >> 2) & 0x3;
    if (offset == CR) {
        // RM0090, RCC_CR: an oscillator that drives SYSCLK (directly or
        // through the PLL) cannot be switched off; the bit stays set.
        const bool pll_hse = (reg(PLLCFGR) & (1u << 22)) != 0;
        const uint32_t in_use = sws == 0   ? kHsiOn
                                : sws == 1 ? kHseOn
                                           : kPllOn | (pll_hse ? kHseOn : kHsiOn);
        if (in_use & cell & ~value) {
            cpu_.rules().record("an oscillator that drives SYSCLK switched off (ignored)", 1,
                                "writes", cpu_.now());
            value |= in_use & cell;
        }
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
            if (!pll_starts()) {
                return;
            }
            cpu_.events().schedule(pll_locked_, cpu_.now() + kPllLock);
        }
        if (!(value & kPllOn)) {
            cpu_.events().cancel(pll_locked_);
            next &= ~kPllRdy;
        }
        next |= kHsiOn & value ? kHsiRdy : 0;
        cell = next;
    } else if (offset == PLLCFGR && (reg(CR) & kPllOn)) {
        // RM0090, RCC_PLLCFGR: written only while the PLL is off. The model
        // keeps the running factors (a chosen reading of that rule).
        cpu_.rules().record("PLLCFGR written while the PLL runs (ignored)", 1, "writes",
                            cpu_.now());
        return;
    } else if (offset == CFGR) {
        cell = (value & ~0xCu) | (sws << 2);
        switch_when_ready(true);
        return;
    } else {
        cell = value;
    }
    update();
}

void Rcc::switch_when_ready(bool requested) {
    // RM0090, "System clock (SYSCLK) selection": the switch to a source that
    // is not ready yet happens when it becomes ready.
    uint32_t& cfgr = reg(CFGR);
    const uint32_t sw = cfgr & 0x3;
    const uint32_t cr = reg(CR);
    const bool ready =
        (sw == 0 && (cr & kHsiRdy)) || (sw == 1 && (cr & kHseRdy)) || (sw == 2 && (cr & kPllRdy));
    if (ready) {
        cfgr = (cfgr & ~0xCu) | (sw << 2);
    } else if (requested && sw != ((cfgr >> 2) & 0x3)) {
        cpu_.rules().record("SYSCLK switched to a source that is not ready (waits for it)", 1,
                            "writes", cpu_.now());
    }
    update();
}

bool Rcc::pll_starts() {
    // Out of these ranges the PLL's output is not specified: halt.
    const PllFactors f = pll_factors(reg(PLLCFGR));
    std::string broken;
    if (f.m < 2) {
        broken = "PLLM " + std::to_string(f.m) + " (2 to 63)";
    } else if (f.vco_in() < kVcoInMin || f.vco_in() > kVcoInMax) {
        broken = "PLL VCO input " + mhz(f.vco_in()) + " with PLLM " + std::to_string(f.m) +
                 " (1 to 2 MHz)";
    } else if (f.n < 50 || f.n > 432) {
        broken = "PLLN " + std::to_string(f.n) + " (50 to 432)";
    } else if (f.vco_out() < kVcoOutMin || f.vco_out() > kVcoOutMax) {
        broken = "PLL VCO output " + mhz(f.vco_out()) + " with PLLN " + std::to_string(f.n) +
                 " (100 to 432 MHz)";
    }
    if (!broken.empty()) {
        cpu_.break_rule(broken);
        return false;
    }
    if (f.q < 2) {
        // Only the 48 MHz domain's divider: recorded.
        cpu_.rules().record("PLLQ " + std::to_string(f.q) + " (2 to 15)", f.q, "", cpu_.now(),
                            false);
    }
    return true;
}

void Rcc::check_limits() {
    if (cpu_.halted()) {
        return;
    }
    const uint32_t sysclk = sysclk_hz();
    const SupplyRange& supply = supply_range(supply_v_);
    const bool scale1 = pwr_ == nullptr || pwr_->scale1();
    const uint32_t latency = flash_ != nullptr ? flash_->latency() : 0;
    const uint32_t needed = hclk_hz_ == 0 ? 0 : (hclk_hz_ - 1) / supply.step_hz;
    if (sysclk > kHclkMax) {
        cpu_.break_rule("SYSCLK " + mhz(sysclk) + " (at most 168 MHz)");
    } else if (hclk_hz_ > supply.hclk_max) {
        cpu_.break_rule("HCLK " + mhz(hclk_hz_) + " at " + supply.name + " (at most " +
                        mhz(supply.hclk_max) + ")");
    } else if (!scale1 && hclk_hz_ > kHclkMaxScale2) {
        cpu_.break_rule("HCLK " + mhz(hclk_hz_) + " in voltage scale 2 (at most 144 MHz)");
    } else if (latency < needed) {
        cpu_.break_rule("HCLK " + mhz(hclk_hz_) + " with flash latency " + std::to_string(latency) +
                        " (needs " + std::to_string(needed) + " wait states at " + supply.name +
                        ")");
    } else if (pclk1_hz() > kPclk1Max) {
        cpu_.break_rule("PCLK1 " + mhz(pclk1_hz()) + " (at most 42 MHz)");
    } else if (pclk2_hz() > kPclk2Max) {
        cpu_.break_rule("PCLK2 " + mhz(pclk2_hz()) + " (at most 84 MHz)");
    }
    // RM0090, RCC_PLLCFGR PLLQ: USB OTG FS needs PLL48CLK at 48 MHz, SDIO and
    // the RNG at most 48 MHz. Those blocks are not modelled: a breach while one
    // is clocked is recorded.
    const PllFactors f = pll_factors(reg(PLLCFGR));
    const uint64_t pll48 = f.q < 2 ? 0 : f.vco_out() / f.q;
    const bool usb = gate(AHB2ENR, 1u << 7), rng = gate(AHB2ENR, 1u << 6),
               sdio = gate(APB2ENR, 1u << 11);
    const bool breach =
        (reg(CR) & kPllOn) && ((usb && pll48 != 48 * kMHz) || ((rng || sdio) && pll48 > 48 * kMHz));
    if (breach && !pll48_breach_) {
        cpu_.rules().record("PLL48CLK not 48 MHz with USB OTG FS, SDIO or RNG clocked",
                            static_cast<double>(pll48), "Hz", cpu_.now());
    }
    pll48_breach_ = breach;
}

uint32_t Rcc::sysclk_hz() const {
    const uint32_t cfgr = reg(CFGR);
    switch ((cfgr >> 2) & 0x3) {
        case 1:
            return kHseHz;
        case 2: {
            const PllFactors f = pll_factors(reg(PLLCFGR));
            return f.m == 0 ? 0 : static_cast<uint32_t>(f.vco_out() / f.p);
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

void Rcc::update() {
    const uint32_t hclk = sysclk_hz() >> kAhbShift[(reg(CFGR) >> 4) & 0xF];
    hclk_hz_ = hclk;
    check_limits();
    for (auto& listener : listeners_) {
        listener();
    }
}

void FlashInterface::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    cell = value;
    if (offset == ACR) {
        rcc_.check_limits();  // fewer wait states under a fast HCLK
    }
}

void Pwr::reset() {
    reg(CR) = kVos;  // RM0090, PWR_CR: scale 1 at reset
}

void Pwr::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    cell = value;
    if (offset == CR) {
        rcc_.check_limits();
    }
}

}  // namespace sim
