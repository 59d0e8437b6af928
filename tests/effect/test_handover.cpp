// The hand-over of an object from its owner to other threads: what a hold
// sees, that withdraw waits for an open hold, and (under the thread
// sanitizer) that the owner's use after withdraw never races with a holder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/handover.h"

namespace {

TEST(Handover, HoldsSeeOnlyThePublishedObject) {
    kv::Handover<int> handover;
    EXPECT_FALSE(handover.hold());
    handover.withdraw();  // nothing published: returns at once

    int first = 1;
    int second = 2;
    handover.publish(&first);
    {
        const auto hold = handover.hold();
        ASSERT_TRUE(hold);
        EXPECT_EQ(hold.get(), &first);
    }
    handover.withdraw();
    EXPECT_FALSE(handover.hold());

    // Published again, as a reopened editor brings new controls.
    handover.publish(&second);
    EXPECT_EQ(handover.hold().get(), &second);
    handover.withdraw();
    EXPECT_FALSE(handover.hold());
}

TEST(Handover, WithdrawWaitsForAnOpenHold) {
    kv::Handover<int> handover;
    int object = 0;
    handover.publish(&object);

    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        const auto hold = handover.hold();
        holding = true;
        while (!release)
            std::this_thread::yield();
        *hold.get() = 1;  // still the holder's to write
    });
    while (!holding)
        std::this_thread::yield();

    std::atomic<bool> withdrawn{false};
    std::thread owner([&] {
        handover.withdraw();
        withdrawn = true;
    });
    // Withdraw has begun once new holds see nothing; it must still be waiting.
    while (handover.hold())
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(withdrawn);

    release = true;
    owner.join();
    holder.join();
    EXPECT_TRUE(withdrawn);
    EXPECT_EQ(object, 1);
}

TEST(Handover, OwnerDestroysWhatItWithdrewWhileAnotherThreadHolds) {
    kv::Handover<int> handover;
    std::atomic<bool> stop{false};
    std::atomic<int> writes{0};
    std::thread user([&] {
        while (!stop) {
            if (const auto hold = handover.hold()) {
                ++*hold.get();  // a plain write: the sanitizer sees any race
                writes.fetch_add(1, std::memory_order_relaxed);
            } else {
                std::this_thread::yield();
            }
        }
    });
    for (int round = 0; round < 50; ++round) {
        auto* object = new int(0);
        handover.publish(object);
        const int before = writes.load();
        while (writes.load() == before)
            std::this_thread::yield();
        handover.withdraw();
        const int seen = *object;
        std::this_thread::yield();
        EXPECT_EQ(*object, seen);  // nobody writes after withdraw
        delete object;
    }
    stop = true;
    user.join();
}

}  // namespace
