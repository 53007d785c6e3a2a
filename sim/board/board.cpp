#include "board.hpp"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
Board* g_board = nullptr;

constexpr uintptr_t kUsart1 = 0x40011000, kUsart6 = 0x40011400, kGpioA = 0x40020000,
                    kCan1 = 0x40006400, kCan2 = 0x40006800, kI2c2 = 0x40005800, kPwr = 0x40007000,
                    kFlash = 0x40023C00;
}  // namespace

Board& Board::create(const BoardConfig& config) {
    if (g_board != nullptr) {
        std::fprintf(stderr, "virtual board: one board per process\n");
        std::abort();
    }
    // Lives as long as the process: its fibers hold firmware stacks that are
    // never unwound.
    g_board = new Board(config);
    return *g_board;
}

Board& Board::get() {
    if (g_board == nullptr) {
        std::fprintf(stderr, "virtual board: no board in this process\n");
        std::abort();
    }
    return *g_board;
}

Board::Board(const BoardConfig& config)
    : config_(config),
      rcc_(cpu_, config.crystal_fitted),
      tim1_(cpu_, rcc_),
      usart1_(cpu_, rcc_, kUsart1, 1u << 4, true),
      usart6_(cpu_, rcc_, kUsart6, 1u << 5, true),
      can1_(rcc_, kCan1, 1u << 25),
      can2_(rcc_, kCan2, 1u << 26),
      i2c2_(rcc_, Rcc::APB1ENR, 1u << 22),
      pwr_(rcc_, Rcc::APB1ENR, 1u << 28) {
    Bus::map_peripheral_region();
    cpu_.set_core_hz_source(rcc_.hclk_source());
    bus_.attach(Rcc::kBase, 0x400, &rcc_);
    bus_.attach(Tim1::kBase, 0x400, &tim1_);
    bus_.attach(kUsart1, 0x400, &usart1_);
    bus_.attach(kUsart6, 0x400, &usart6_);
    for (int i = 0; i < 9; i++) {
        const uintptr_t base = kGpioA + 0x400u * static_cast<uintptr_t>(i);
        gpio_.push_back(std::make_unique<GpioPort>(rcc_, base, i));
        bus_.attach(base, 0x400, gpio_.back().get());
    }
    bus_.attach(kCan1, 0x400, &can1_);
    bus_.attach(kCan2, 0x400, &can2_);
    bus_.attach(kI2c2, 0x400, &i2c2_);
    bus_.attach(kPwr, 0x400, &pwr_);
    bus_.attach(kFlash, 0x400, &flash_);
    usart1_.set_sink([this](uint8_t byte, Picos at) {
        console_.push_back(ConsoleByte{byte, at});
        if (echo_) {
            echo_(byte);
        }
    });
}

void Board::power_on(std::function<void()> reset_vector) {
    rcc_.reset();
    tim1_.reset();
    usart1_.reset();
    usart6_.reset();
    for (auto& port : gpio_) {
        port->reset();
    }
    can1_.reset();
    can2_.reset();
    cpu_.power_on(std::move(reset_vector));
}

std::string Board::console_text() const {
    std::string text;
    text.reserve(console_.size());
    for (const ConsoleByte& b : console_) {
        text.push_back(static_cast<char>(b.byte));
    }
    return text;
}

}  // namespace sim
