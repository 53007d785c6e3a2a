#include "sim/models/bxcan.hpp"

#include <algorithm>

namespace sim {

namespace {
// MCR, MSR
constexpr uint32_t kInrq = 1U << 0, kSleep = 1U << 1, kTxfp = 1U << 2, kRflm = 1U << 3,
                   kNart = 1U << 4, kReset = 1U << 15;
constexpr uint32_t kInak = 1U << 0, kSlak = 1U << 1;
constexpr uint32_t kMsrIdle = (1U << 11) | (1U << 10);  // RX and SAMP recessive
// TSR, per mailbox n at 8 n
constexpr uint32_t kRqcp = 1U << 0, kTxok = 1U << 1, kAlst = 1U << 2, kTerr = 1U << 3,
                   kAbrq = 1U << 7;
constexpr uint32_t kTme0Pos = 26;
// TIxR
constexpr uint32_t kTxrq = 1U << 0, kRtr = 1U << 1, kIde = 1U << 2;
// RFxR
constexpr uint32_t kFull = 1U << 3, kFovr = 1U << 4, kRfom = 1U << 5;
// BTR
constexpr uint32_t kLbkm = 1U << 30, kSilm = 1U << 31;
// FMR
constexpr uint32_t kFinit = 1U << 0;
constexpr int kFifoDepth = 3;

uint32_t frame_word32(const CanFrame& f) {
    if (!f.ide) {
        return ((f.id & 0x7FFU) << 21) | (f.rtr ? kRtr : 0U);
    }
    return ((f.id & 0x1FFFFFFFU) << 3) | kIde | (f.rtr ? kRtr : 0U);
}

uint32_t frame_word16(const CanFrame& f) {
    const uint32_t stid = f.ide ? (f.id >> 18) & 0x7FFU : f.id & 0x7FFU;
    const uint32_t exid_top = f.ide ? (f.id >> 15) & 0x7U : 0U;
    return (stid << 5) | (f.rtr ? 1U << 4 : 0U) | (f.ide ? 1U << 3 : 0U) | exid_top;
}
}  // namespace

CanController::CanController(Cpu& cpu, const Rcc& rcc, uint32_t enr_bit, CanBus& bus,
                             CanController* master)
    // CAN2 works only with the CAN1 clock running too.
    : GatedBlock(rcc, Rcc::APB1ENR, enr_bit, Rcc::APB1ENR, 1u << 25),
      cpu_(cpu),
      clocks_(rcc),
      bus_(bus),
      master_(master),
      mode_event_([this](Picos now) { mode_change(now, true); }),
      loop_event_([this](Picos now) { loop_back(now); }) {
    bus_.attach(this);
}

void CanController::reset() {
    reg(MCR) = 0x00010002;
    reg(MSR) = 0x00000C02;
    reg(IER) = 0;
    reg(BTR) = 0x01230000;
    for (Mailbox& box : tx_) {
        box = Mailbox{};
    }
    tsr_flags_ = 0;
    on_bus_ = -1;
    for (int f = 0; f < 2; f++) {
        fifo_[f].clear();
        overrun_[f] = full_[f] = false;
    }
    tec_ = rec_ = 0;
    lec_ = 0;
    bus_off_ = false;
    cpu_.events().cancel(mode_event_);
    cpu_.events().cancel(loop_event_);
    if (master_ == nullptr) {
        reg(FMR) = 0x2A1C0E01;  // filter init mode, CAN2 from bank 14
    }
}

bool CanController::running() const {
    return clocked() && (reg(MSR) & (kInak | kSlak)) == 0U;
}

// Loopback mode disregards the RX pin: the controller neither hears nor
// acknowledges the bus. Silent mode never drives it dominant.
bool CanController::active() const {
    return running() && !bus_off_ && (reg(BTR) & (kSilm | kLbkm)) == 0U;
}

bool CanController::self_acks() const {
    return (reg(BTR) & kLbkm) != 0U;
}

// BS1 stands for PHASE_SEG1: bxCAN does not split PROP_SEG off it.
CanBitTiming CanController::timing() const {
    const uint32_t btr = reg(BTR);
    const uint64_t brp = (btr & 0x3FFU) + 1U;
    const int ts1 = static_cast<int>((btr >> 16) & 0xFU) + 1;
    const int ts2 = static_cast<int>((btr >> 20) & 0x7U) + 1;
    const int sjw = static_cast<int>((btr >> 24) & 0x3U) + 1;
    const uint64_t pclk1 = clocks_.pclk1_hz();
    const int quanta = 1 + ts1 + ts2;
    const Picos bit =
        pclk1 == 0 ? kNever / 1024 : brp * static_cast<uint64_t>(quanta) * kPsPerS / pclk1;
    return CanBitTiming{bit, quanta, ts1, ts2, sjw};
}

void CanController::set_mcr(uint32_t value) {
    if ((value & kReset) != 0U) {
        reset();  // master reset: back to sleep mode, filters kept
        return;
    }
    reg(MCR) = value & 0x000100FFU;
    cpu_.events().cancel(mode_event_);
    mode_change(cpu_.now(), false);
}

// The hand-shakes of RM0090's bxCAN "Initialization mode" and "Sleep mode":
// INAK or SLAK rise once the frame the controller sends or receives has
// ended; they fall once it has seen 11 consecutive recessive bits on the
// bus (128 times 11 to recover from bus-off, "Bus-Off recovery").
void CanController::mode_change(Picos now, bool due) {
    const bool init = mcr(kInrq);
    const bool sleep = mcr(kSleep) && !init;
    const uint32_t want = init ? kInak : sleep ? kSlak : 0U;
    const uint32_t have = reg(MSR) & (kInak | kSlak);
    if (want == have) {
        return;
    }
    Picos at = now;
    if (clocked() && want == 0U) {
        const Picos idle = bus_.idle_at(now);
        if (!due || idle > now) {
            at = idle + bit_time() * (bus_off_ ? 128 * 11 : 11);
        }
    } else if (!due && have == 0U && bus_.transmitting() != nullptr) {
        at = bus_.idle_at(now);
    }
    if (at > now) {
        cpu_.events().schedule(mode_event_, at);
        return;
    }
    reg(MSR) = (reg(MSR) & ~(kInak | kSlak)) | want;
    if (want == 0U && bus_off_) {
        bus_off_ = false;
        tec_ = rec_ = 0;
    }
    want_bus();
}

uint32_t CanController::tsr() const {
    uint32_t value = tsr_flags_;
    int code = -1;
    for (int i = 0; i < 3; i++) {
        if (!tx_[i].pending) {
            value |= 1U << (kTme0Pos + i);
            if (code < 0) {
                code = i;
            }
        }
    }
    return value | (static_cast<uint32_t>(std::max(code, 0)) << 24);
}

uint32_t CanController::filter(uint32_t offset) const {
    return master_ != nullptr ? master_->filter(offset) : reg(offset);
}

bool CanController::filters_writable(uint32_t offset) const {
    if ((reg(FMR) & kFinit) != 0U) {
        return true;
    }
    // A bank's own registers can also change while it is inactive.
    if (offset >= FR0) {
        const uint32_t bank = (offset - FR0) / 8U;
        return (reg(FA1R) & (1U << bank)) == 0U;
    }
    return offset == FMR || offset == FA1R;
}

uint32_t CanController::read(uint32_t offset, uint32_t& cell) {
    if (offset == TSR) {
        return tsr();
    }
    if (offset == RF0R || offset == RF1R) {
        const int f = offset == RF0R ? 0 : 1;
        return static_cast<uint32_t>(fifo_[f].size()) | (full_[f] ? kFull : 0U) |
               (overrun_[f] ? kFovr : 0U);
    }
    if (offset == ESR) {
        return (static_cast<uint32_t>(rec_) << 24) | (static_cast<uint32_t>(tec_) << 16) |
               (lec_ << 4) | (bus_off_ ? 4U : 0U) | (tec_ >= 128 || rec_ >= 128 ? 2U : 0U) |
               (tec_ >= 96 || rec_ >= 96 ? 1U : 0U);
    }
    if (offset >= TX0 && offset < RX0) {
        const Mailbox& box = tx_[(offset - TX0) / 16U];
        const uint32_t word = (offset - TX0) % 16U;
        return word == 0 ? box.tir : word == 4 ? box.tdtr : word == 8 ? box.tdlr : box.tdhr;
    }
    if (offset >= RX0 && offset < RX0 + 0x20U) {
        const std::deque<RxEntry>& fifo = fifo_[(offset - RX0) / 16U];
        if (fifo.empty()) {
            return 0;
        }
        const RxEntry& e = fifo.front();
        const uint32_t word = (offset - RX0) % 16U;
        return word == 0 ? e.rir : word == 4 ? e.rdtr : word == 8 ? e.rdlr : e.rdhr;
    }
    if (offset >= FMR && master_ != nullptr) {
        return 0;  // the banks live in the first controller only
    }
    return cell;
}

void CanController::write(uint32_t offset, uint32_t& cell, uint32_t value) {
    if (offset == MCR) {
        set_mcr(value);
    } else if (offset == MSR || offset == IER) {
        cell = value;  // status-change flags and interrupts are not modelled
    } else if (offset == TSR) {
        for (int i = 0; i < 3; i++) {
            if ((value & (kRqcp << (8 * i))) != 0U) {
                tsr_flags_ &= ~((kRqcp | kTxok | kAlst | kTerr) << (8 * i));
            }
            // RM0090 bxCAN "Transmit handling": a pending or scheduled
            // mailbox is aborted at once; one in transmit state at the end
            // of the attempt, emptied unless the frame went out.
            if ((value & (kAbrq << (8 * i))) != 0U && tx_[i].pending) {
                if (bus_.transmitting() == this && on_bus_ == i) {
                    tx_[i].abort = true;
                } else {
                    complete(i, false, 0);
                }
            }
        }
    } else if (offset == RF0R || offset == RF1R) {
        const int f = offset == RF0R ? 0 : 1;
        if ((value & kFull) != 0U) {
            full_[f] = false;
        }
        if ((value & kFovr) != 0U) {
            overrun_[f] = false;
        }
        if ((value & kRfom) != 0U && !fifo_[f].empty()) {
            fifo_[f].pop_front();
            full_[f] = false;
        }
    } else if (offset == BTR) {
        if ((reg(MSR) & kInak) != 0U) {  // writable in initialisation mode only
            cell = value & 0xC37F03FFU;
        }
    } else if (offset >= TX0 && offset < RX0) {
        const int i = static_cast<int>((offset - TX0) / 16U);
        Mailbox& box = tx_[i];
        if (box.pending) {
            return;  // a mailbox is write-protected while it holds a request
        }
        const uint32_t word = (offset - TX0) % 16U;
        if (word == 0) {
            box.tir = value;
            if ((value & kTxrq) != 0U) {
                box.pending = true;
                box.abort = false;
                box.order = ++tx_order_;
                tsr_flags_ &= ~((kRqcp | kTxok | kAlst | kTerr) << (8 * i));
                want_bus();
            }
        } else if (word == 4) {
            box.tdtr = value & 0xFFFF010FU;
        } else if (word == 8) {
            box.tdlr = value;
        } else {
            box.tdhr = value;
        }
    } else if (offset >= FMR) {
        if (master_ == nullptr && filters_writable(offset)) {
            cell = offset == FMR ? (value & 0x3F01U) : value;
        }
    } else {
        cell = value;
    }
}

int CanController::chosen_mailbox() const {
    int best = -1;
    for (int i = 0; i < 3; i++) {
        if (!tx_[i].pending) {
            continue;
        }
        if (best < 0) {
            best = i;
            continue;
        }
        const bool by_order = mcr(kTxfp);
        const uint64_t a = by_order ? tx_[i].order : tx_[i].tir >> 1;
        const uint64_t b = by_order ? tx_[best].order : tx_[best].tir >> 1;
        // Identifier order compares the register's identifier and IDE/RTR
        // bits; equal priority goes to the lower mailbox.
        if (a < b) {
            best = i;
        }
    }
    return best;
}

const CanFrame* CanController::next_frame() {
    if (!running() || bus_off_ || (reg(BTR) & kSilm) != 0U) {
        return nullptr;
    }
    return own_frame();
}

const CanFrame* CanController::own_frame() {
    const int i = chosen_mailbox();
    if (i < 0) {
        return nullptr;
    }
    const Mailbox& box = tx_[i];
    CanFrame& f = on_bus_frame_;
    f.ide = (box.tir & kIde) != 0U;
    f.rtr = (box.tir & kRtr) != 0U;
    f.id = f.ide ? (box.tir >> 3) & 0x1FFFFFFFU : box.tir >> 21;
    f.dlc = static_cast<uint8_t>(box.tdtr & 0xFU);
    for (int b = 0; b < 4; b++) {
        f.data[b] = static_cast<uint8_t>(box.tdlr >> (8 * b));
        f.data[4 + b] = static_cast<uint8_t>(box.tdhr >> (8 * b));
    }
    on_bus_ = i;
    return &on_bus_frame_;
}

void CanController::complete(int box, bool ok, uint32_t error_bits) {
    tx_[box].pending = false;
    tx_[box].tir &= ~kTxrq;
    tsr_flags_ |= (kRqcp | (ok ? kTxok : 0U) | error_bits) << (8 * box);
}

void CanController::count_errors(int tec_delta, int rec_delta) {
    tec_ = std::max(tec_ + tec_delta, 0);
    rec_ = std::clamp(rec_ + rec_delta, 0, 255);
    tec_max_ = std::max(tec_max_, std::min(tec_, 255));
    rec_max_ = std::max(rec_max_, rec_);
    if (tec_ > 255) {
        bus_off_ = true;  // until software leaves initialisation mode again
        tec_ = 255;
    }
}

void CanController::sent(bool acked, Picos at) {
    const int i = on_bus_;
    if (i < 0 || !tx_[i].pending) {
        return;
    }
    if (acked) {
        count_errors(-1, 0);
        lec_ = 0;
        if ((reg(BTR) & kLbkm) != 0U) {
            store(on_bus_frame_);
        }
        complete(i, true, 0);
    } else {
        // Acknowledgement error. An error-passive sender does not count it.
        count_errors(tec_ < 128 ? 8 : 0, 0);
        lec_ = 3;
        attempt_failed(kTerr);
    }
    (void)at;
    want_bus();
}

// Another node's error flag or a collision: a bit error, sent recessive and
// seen dominant (LEC 4).
void CanController::send_error(Picos at) {
    if ((reg(BTR) & kLbkm) != 0U) {
        sent(true, at);  // loopback hears only itself
        return;
    }
    const int i = on_bus_;
    if (i < 0 || !tx_[i].pending) {
        return;
    }
    count_errors(8, 0);
    lec_ = 4;
    attempt_failed(kTerr);
    want_bus();
}

void CanController::receive_error(Picos at) {
    (void)at;
    if (running() && (reg(BTR) & kLbkm) == 0U) {
        count_errors(0, 1);
    }
}

void CanController::attempt_failed(uint32_t error_bits) {
    if (mcr(kNart) || tx_[on_bus_].abort) {
        complete(on_bus_, false, error_bits);
    }
}

void CanController::lost_arbitration(Picos at) {
    (void)at;
    if (on_bus_ >= 0 && tx_[on_bus_].pending && (mcr(kNart) || tx_[on_bus_].abort)) {
        complete(on_bus_, false, kAlst);
    }
}

// Silent loopback ("hot self-test"): frames go from TX to RX inside the
// controller and never reach the bus.
void CanController::loop_back(Picos now) {
    if (!running() || (reg(BTR) & (kSilm | kLbkm)) != (kSilm | kLbkm) || own_frame() == nullptr) {
        return;
    }
    sent(true, now);
}

void CanController::want_bus() {
    if (!running() || chosen_mailbox() < 0) {
        return;
    }
    if ((reg(BTR) & (kSilm | kLbkm)) == (kSilm | kLbkm)) {
        if (!loop_event_.armed() && own_frame() != nullptr) {
            cpu_.events().schedule(
                loop_event_,
                cpu_.now() + bit_time() * static_cast<Picos>(can_frame_bits(on_bus_frame_) +
                                                             kCanIntermissionBits));
        }
        return;
    }
    bus_.request();
}

CanController::Match CanController::match(const CanFrame& frame) const {
    Match best{-1, 0};
    int best_rank = 4;
    if ((filter(FMR) & kFinit) != 0U) {
        return best;  // filter initialisation mode: no reception at all
    }
    // CAN2 owns the banks from CAN2SB on; 0 gives it all, 28 and more none.
    const int start = static_cast<int>((filter(FMR) >> 8) & 0x3FU);
    const int first = master_ == nullptr ? 0 : std::min(start, kBanks);
    const int last = master_ == nullptr ? std::min(start, kBanks) : kBanks;
    const uint32_t mode = filter(FM1R), scale = filter(FS1R), fifo = filter(FFA1R),
                   act = filter(FA1R);
    const uint32_t w32 = frame_word32(frame), w16 = frame_word16(frame);
    int numbers[2] = {0, 0};  // filter numbers so far, per FIFO
    for (int bank = first; bank < last; bank++) {
        const uint32_t bit = 1U << bank;
        const int f = (fifo & bit) != 0U ? 1 : 0;
        const bool list = (mode & bit) != 0U;
        const bool wide = (scale & bit) != 0U;
        const uint32_t fr1 = filter(FR0 + 8U * static_cast<uint32_t>(bank));
        const uint32_t fr2 = filter(FR0 + 8U * static_cast<uint32_t>(bank) + 4U);
        // Candidate filters of the bank: (identifier, mask) pairs.
        uint32_t ids[4], masks[4];
        int n;
        if (wide && !list) {
            ids[0] = fr1, masks[0] = fr2, n = 1;
        } else if (wide) {
            ids[0] = fr1, ids[1] = fr2, masks[0] = masks[1] = 0xFFFFFFFFU, n = 2;
        } else if (!list) {
            ids[0] = fr1 & 0xFFFFU, masks[0] = fr1 >> 16;
            ids[1] = fr2 & 0xFFFFU, masks[1] = fr2 >> 16, n = 2;
        } else {
            ids[0] = fr1 & 0xFFFFU, ids[1] = fr1 >> 16, ids[2] = fr2 & 0xFFFFU, ids[3] = fr2 >> 16;
            masks[0] = masks[1] = masks[2] = masks[3] = 0xFFFFU, n = 4;
        }
        const uint32_t word = wide ? w32 : w16;
        const uint32_t ignore = wide ? ~1U : 0xFFFFU;  // bit 0 of a 32-bit filter is reserved
        for (int k = 0; k < n; k++) {
            const int number = numbers[f]++;
            if ((act & bit) == 0U || ((word ^ ids[k]) & masks[k] & ignore) != 0U) {
                continue;
            }
            // Precedence: 32-bit before 16-bit, list before mask, then the lower number.
            const int rank = (wide ? 0 : 2) + (list ? 0 : 1);
            if (rank < best_rank) {
                best_rank = rank;
                best = Match{f, number};
            }
        }
    }
    return best;
}

void CanController::received(const CanFrame& frame, Picos at) {
    (void)at;
    if (!running() || (reg(BTR) & kLbkm) != 0U) {
        return;
    }
    count_errors(0, -1);
    store(frame);
}

void CanController::store(const CanFrame& frame) {
    const Match m = match(frame);
    if (m.fifo < 0) {
        return;
    }
    RxEntry e;
    e.rir = frame_word32(frame);
    e.rdtr = (frame.dlc & 0xFU) | (static_cast<uint32_t>(m.index & 0xFF) << 8);
    e.rdlr = e.rdhr = 0;
    for (int b = 0; b < 4; b++) {
        e.rdlr |= static_cast<uint32_t>(frame.data[b]) << (8 * b);
        e.rdhr |= static_cast<uint32_t>(frame.data[4 + b]) << (8 * b);
    }
    std::deque<RxEntry>& fifo = fifo_[m.fifo];
    if (static_cast<int>(fifo.size()) == kFifoDepth) {
        overrun_[m.fifo] = true;
        if (!mcr(kRflm)) {
            fifo.back() = e;  // unlocked: the newest frame replaces the last one
        }
        return;
    }
    fifo.push_back(e);
    full_[m.fifo] = static_cast<int>(fifo.size()) == kFifoDepth;
}

}  // namespace sim
