// bxCAN controller: three transmit mailboxes, two receive FIFOs of three
// frames, and the 28 filter banks that the first controller holds for both.
#pragma once

#include <cstdint>
#include <deque>

#include "sim/core/cpu.hpp"
#include "sim/models/can_bus.hpp"
#include "sim/models/gated_block.hpp"

namespace sim {

class CanController final : public GatedBlock, public CanNode {
  public:
    static constexpr uint32_t MCR = 0x000, MSR = 0x004, TSR = 0x008, RF0R = 0x00C, RF1R = 0x010,
                              IER = 0x014, ESR = 0x018, BTR = 0x01C, TX0 = 0x180, RX0 = 0x1B0,
                              FMR = 0x200, FM1R = 0x204, FS1R = 0x20C, FFA1R = 0x214, FA1R = 0x21C,
                              FR0 = 0x240;
    static constexpr int kBanks = 28;

    /// `master` is the controller whose registers hold the filter banks (null
    /// for the master itself); both sit on `bus`.
    CanController(Cpu& cpu, const Rcc& rcc, uint32_t enr_bit, CanBus& bus, CanController* master);
    void reset() override;
    uint32_t read(uint32_t offset, uint32_t& cell) override;
    void write(uint32_t offset, uint32_t& cell, uint32_t value) override;

    // CanNode
    const CanFrame* next_frame() override;
    CanBitTiming timing() const override;
    bool active() const override;
    void sent(bool acked, Picos at) override;
    void send_error(Picos at) override;
    void receive_error(Picos at) override;
    bool self_acks() const override;
    void lost_arbitration(Picos at) override;
    void received(const CanFrame& frame, Picos at) override;
    int suspend_bits() const override { return tec_ >= 128 ? 8 : 0; }

    /// Which FIFO and filter match index a frame would get on this
    /// controller, or -1 for the FIFO when no active filter accepts it.
    struct Match {
        int fifo;
        int index;
    };
    Match match(const CanFrame& frame) const;
    /// Largest transmit and receive error counts so far.
    int tec_max() const { return tec_max_; }
    int rec_max() const { return rec_max_; }

  private:
    struct Mailbox {
        uint32_t tir = 0, tdtr = 0, tdlr = 0, tdhr = 0;
        bool pending = false;
        bool abort = false;  // requested while its frame was on the wire
        uint64_t order = 0;
    };
    struct RxEntry {
        uint32_t rir, rdtr, rdlr, rdhr;
    };

    bool running() const;  // left initialisation and sleep modes
    bool mcr(uint32_t bit) const { return (reg(MCR) & bit) != 0; }
    void set_mcr(uint32_t value);
    uint32_t tsr() const;
    int chosen_mailbox() const;
    const CanFrame* own_frame();  // the chosen mailbox's frame, whatever the mode
    void complete(int box, bool ok, uint32_t error_bits);
    void want_bus();
    void store(const CanFrame& frame);
    void count_errors(int tec_delta, int rec_delta);
    void attempt_failed(uint32_t error_bits);
    void mode_change(Picos now, bool due);
    void loop_back(Picos now);
    uint32_t filter(uint32_t offset) const;
    bool filters_writable(uint32_t offset) const;

    Cpu& cpu_;
    const Rcc& clocks_;
    CanBus& bus_;
    CanController* master_;
    Mailbox tx_[3];
    uint64_t tx_order_ = 0;
    uint32_t tsr_flags_ = 0;  // RQCP, TXOK, ALST, TERR of the three mailboxes
    int on_bus_ = -1;         // mailbox whose frame the bus last took
    CanFrame on_bus_frame_;
    std::deque<RxEntry> fifo_[2];
    bool overrun_[2] = {false, false};
    bool full_[2] = {false, false};
    int tec_ = 0;
    int rec_ = 0;
    uint32_t lec_ = 0;
    int tec_max_ = 0;
    int rec_max_ = 0;
    bool bus_off_ = false;
    FunctionEvent mode_event_;  // the end of an init or sleep hand-shake
    FunctionEvent loop_event_;  // the end of a frame sent in silent loopback mode
};

}  // namespace sim
