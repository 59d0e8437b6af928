// The CLAP panel's events to the host: however long the host goes without
// a process or a flush, and whichever events it refuses, every begin it
// hears is followed by its end and the last value it hears is the
// plug-in's.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "clap/panel_events.h"

namespace {

using Events = kv::clap::PanelEvents<4>;

// What a host makes of the events: a gesture per parameter, the last value.
struct Host {
    bool inGesture[4] = {};
    double heard[4] = {};
    int count = 0;
    int pushed = 0;
    int refuseEvery = 0;  // 0: takes everything
    const double* values = nullptr;

    bool push(Events::Kind kind, uint32_t id) {
        if (refuseEvery && ++count % refuseEvery == 0) return false;
        ++pushed;
        switch (kind) {
            case Events::kBegin:
                EXPECT_FALSE(inGesture[id]) << "a begin inside a gesture, parameter " << id;
                inGesture[id] = true;
                break;
            case Events::kEnd:
                EXPECT_TRUE(inGesture[id]) << "an end without a begin, parameter " << id;
                inGesture[id] = false;
                break;
            case Events::kValue:
                heard[id] = values[id];
                break;
        }
        return true;
    }
    bool take(Events& events) {
        return events.send([this](Events::Kind kind, uint32_t id) { return push(kind, id); });
    }
};

TEST(PanelEvents, ALongDragWithoutAFlushIsHeardAsOneGestureEndingOnTheLastValue) {
    Events events;
    double values[4] = {};
    Host host;
    host.values = values;
    events.begin(0);
    for (int i = 0; i < 100000; ++i) {
        values[0] = i * 0.001;
        events.changed(0);
    }
    events.end(0);
    EXPECT_TRUE(host.take(events));
    EXPECT_FALSE(host.inGesture[0]);
    EXPECT_EQ(host.heard[0], values[0]);
    EXPECT_EQ(host.pushed, 3) << "a begin, the last value, an end";
}

TEST(PanelEvents, RefusedEventsComeAgainAndEveryBeginEnds) {
    std::mt19937 random(23);
    double values[4] = {};
    for (int refuseEvery : {0, 2, 3, 7}) {
        SCOPED_TRACE(refuseEvery);
        Events events;
        Host host;
        host.values = values;
        host.refuseEvery = refuseEvery;
        bool gesture[4] = {};
        for (int step = 0; step < 20000; ++step) {
            const auto id = static_cast<uint32_t>(random() % 4);
            switch (random() % 5) {
                case 0:
                    gesture[id] ? events.end(id) : events.begin(id);
                    gesture[id] = !gesture[id];
                    break;
                case 1:
                    host.take(events);
                    break;
                default:
                    values[id] = static_cast<double>(random() % 1000);
                    events.changed(id);
                    break;
            }
        }
        for (uint32_t p = 0; p < 4; ++p)
            if (gesture[p]) events.end(p);
        int sends = 0;
        while (!host.take(events))
            ASSERT_LT(++sends, 100);
        for (uint32_t p = 0; p < 4; ++p) {
            EXPECT_FALSE(host.inGesture[p]) << p;
            EXPECT_EQ(host.heard[p], values[p]) << p;
        }
    }
}

}  // namespace
