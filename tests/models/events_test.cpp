// The event queue on its own: the order events fire in decides the order of
// everything on the board, so it must not depend on how they were queued.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "named_case.hpp"
#include "sim/core/events.hpp"

namespace {

using sim::EventQueue;
using sim::FunctionEvent;
using sim::Picos;

struct Fired {
    std::string name;
    Picos at;
    bool operator==(const Fired&) const = default;
};

void PrintTo(const Fired& f, std::ostream* os) {
    *os << f.name << "@" << f.at;
}

// Named events that note when they fire; `then` runs after the note.
class Recorder {
  public:
    FunctionEvent& make(const std::string& name, std::function<void(Picos)> then = nullptr) {
        events_.emplace_back([this, name, then](Picos at) {
            fired.push_back({name, at});
            if (then) {
                then(at);
            }
        });
        return events_.back();
    }
    std::vector<Fired> fired;

  private:
    std::deque<FunctionEvent> events_;  // stable addresses
};

TEST(EventQueue, FiresInTimeOrderWhateverTheSchedulingOrder) {
    EventQueue q;
    Recorder r;
    q.schedule(r.make("c"), 30);
    q.schedule(r.make("a"), 10);
    q.schedule(r.make("d"), 40);
    q.schedule(r.make("b"), 20);
    EXPECT_EQ(q.next_time(), 10u);

    q.run_due(25);
    EXPECT_EQ(r.fired, (std::vector<Fired>{{"a", 10}, {"b", 20}}));
    EXPECT_EQ(q.next_time(), 30u);

    q.run_due(40);  // due exactly now counts
    EXPECT_EQ(r.fired.size(), 4u);
    EXPECT_EQ(r.fired[2], (Fired{"c", 30}));
    EXPECT_EQ(r.fired[3], (Fired{"d", 40}));
    EXPECT_EQ(q.next_time(), sim::kNever);
}

TEST(EventQueue, SameTimeEventsFireInSchedulingOrder) {
    EventQueue q;
    Recorder r;
    // Enough events, at two times interleaved, for a heap to reorder ties
    // unless they are broken by scheduling order.
    std::vector<Fired> expected_at_5, expected_at_7;
    for (int i = 0; i < 24; i++) {
        const std::string name = "e" + std::to_string(i);
        const Picos at = i % 3 == 0 ? 7 : 5;
        q.schedule(r.make(name), at);
        (at == 5 ? expected_at_5 : expected_at_7).push_back({name, at});
    }
    FunctionEvent& x = r.make("x");
    q.schedule(x, 5);
    q.schedule(x, 5);  // scheduled again for the same time: behind the others
    expected_at_5.push_back({"x", 5});
    q.run_due(10);
    std::vector<Fired> expected = expected_at_5;
    expected.insert(expected.end(), expected_at_7.begin(), expected_at_7.end());
    EXPECT_EQ(r.fired, expected);
}

struct MoveCase : named_case::Case {
    Picos first;
    Picos moved_to;
};

class EventQueueMove : public ::testing::TestWithParam<MoveCase> {};

TEST_P(EventQueueMove, AnArmedEventFiresOnceAtItsNewTime) {
    const MoveCase c = GetParam();
    EventQueue q;
    Recorder r;
    FunctionEvent& e = r.make("e");
    FunctionEvent& other = r.make("other");
    q.schedule(e, c.first);
    q.schedule(other, 25);
    q.schedule(e, c.moved_to);
    EXPECT_TRUE(e.armed());
    q.run_due(100);
    std::vector<Fired> expected = {{"e", c.moved_to}, {"other", 25}};
    if (c.moved_to > 25) {
        std::swap(expected[0], expected[1]);
    }
    EXPECT_EQ(r.fired, expected);
    EXPECT_FALSE(e.armed());
}

INSTANTIATE_TEST_SUITE_P(Cases, EventQueueMove,
                         ::testing::Values(MoveCase{"Later", 10, 30}, MoveCase{"Earlier", 30, 10},
                                           MoveCase{"SameTime", 20, 20}),
                         named_case::by_name);

TEST(EventQueue, ACancelledEventDoesNotFireAndCanBeScheduledAgain) {
    EventQueue q;
    Recorder r;
    FunctionEvent& a = r.make("a");
    FunctionEvent& b = r.make("b");
    q.schedule(a, 10);
    q.schedule(b, 20);
    q.cancel(a);
    EXPECT_FALSE(a.armed());
    EXPECT_EQ(q.next_time(), 20u);
    q.run_due(15);
    EXPECT_TRUE(r.fired.empty());

    q.schedule(a, 30);
    q.cancel(b);
    q.cancel(b);  // twice is harmless
    q.run_due(100);
    EXPECT_EQ(r.fired, (std::vector<Fired>{{"a", 30}}));
    EXPECT_EQ(q.next_time(), sim::kNever);
}

TEST(EventQueue, EventsScheduledWhileFiringRunInTheSameCallWhenDue) {
    EventQueue q;
    Recorder r;
    FunctionEvent& late = r.make("late");
    FunctionEvent& past = r.make("past");
    FunctionEvent& now = r.make("now");
    FunctionEvent& future = r.make("future");
    FunctionEvent& trigger = r.make("trigger", [&](Picos at) {
        q.schedule(now, 50);  // the run's own time
        q.schedule(future, 51);
        q.schedule(late, at + 5);
        q.schedule(past, at - 5);  // already overdue: fires next
    });
    q.schedule(trigger, 10);
    q.run_due(50);
    EXPECT_EQ(r.fired,
              (std::vector<Fired>{{"trigger", 10}, {"past", 5}, {"late", 15}, {"now", 50}}));
    EXPECT_TRUE(future.armed());
    EXPECT_EQ(q.next_time(), 51u);
}

TEST(EventQueue, APeriodicEventReschedulingItselfFiresEveryPeriodDue) {
    EventQueue q;
    Recorder r;
    FunctionEvent* tick = nullptr;
    tick = &r.make("tick", [&](Picos at) { q.schedule(*tick, at + 10); });
    q.schedule(*tick, 10);
    q.run_due(35);
    EXPECT_EQ(r.fired, (std::vector<Fired>{{"tick", 10}, {"tick", 20}, {"tick", 30}}));
    EXPECT_EQ(q.next_time(), 40u);
}

TEST(EventQueue, CancellingFromAFiringEventStopsAnEventDueInTheSameCall) {
    EventQueue q;
    Recorder r;
    FunctionEvent& victim = r.make("victim");
    FunctionEvent& killer = r.make("killer", [&](Picos) { q.cancel(victim); });
    q.schedule(killer, 10);
    q.schedule(victim, 10);
    q.run_due(10);
    EXPECT_EQ(r.fired, (std::vector<Fired>{{"killer", 10}}));
}

}  // namespace

// A model torn down while its event is still scheduled must not leave the
// queue holding a pointer to it.
TEST(EventQueue, AnEventDestroyedWhileScheduledNeverFires) {
    sim::EventQueue q;
    std::vector<std::string> fired;
    auto doomed = std::make_unique<FunctionEvent>([&](Picos) { fired.push_back("doomed"); });
    FunctionEvent kept([&](Picos) { fired.push_back("kept"); });
    q.schedule(*doomed, 10);
    q.schedule(kept, 20);
    doomed.reset();
    EXPECT_EQ(q.next_time(), 20u);
    q.run_due(30);
    EXPECT_EQ(fired, std::vector<std::string>{"kept"});

    // And events that outlive their queue can still be destroyed safely.
    auto late = std::make_unique<FunctionEvent>([](Picos) {});
    {
        sim::EventQueue short_lived;
        short_lived.schedule(*late, 5);
    }
    EXPECT_FALSE(late->armed());
}
