#include "board_run.hpp"

#include <gtest/gtest.h>

#include "fresh_process.hpp"

namespace sim::testing {

namespace {
std::vector<ConsoleByte> g_console;
}  // namespace

const std::vector<ConsoleByte>& console() {
    return g_console;
}

std::string console_text() {
    std::string text;
    for (const ConsoleByte& b : g_console) {
        text.push_back(static_cast<char>(b.byte));
    }
    return text;
}

json run_board(const BoardRun& run) {
    const ChildResult child = in_fresh_process(
        [&run] {
            Board& board = Board::create(run.config);
            board.cpu().probes().console_tx.listen([](uint8_t byte, Picos at) {
                g_console.push_back({byte, at});
            });
            if (run.attach) {
                run.attach(board);
            }
            json out = json::object();
            bool finished = false;
            board.power_on([&] {
                if (run.bring_up) {
                    run.bring_up();
                }
                if (run.probe) {
                    run.probe(out);
                    finished = true;
                    board.cpu().halt("probe done");
                }
            });
            board.run_until(run.run_for);
            out["finished"] = finished;
            out["halted"] = nullptr;
            if (const auto& h = board.cpu().halted(); h && !finished) {
                out["halted"] = {{"where", h->where}, {"at", h->at}};
            }
            if (run.after) {
                run.after(out);
            }
            return out.dump();
        },
        run.wall_limit_s);
    EXPECT_TRUE(child.ok) << child.failure;
    return child.ok ? json::parse(child.payload) : json::object();
}

}  // namespace sim::testing
