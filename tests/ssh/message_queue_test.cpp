#include "platform/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace tavrin::platform {
namespace {

TEST(MessageQueue, TasksFromAnotherThreadRunOnlyWhileThisThreadPumps) {
    const QueueHandle queue = CurrentThreadQueue();
    std::vector<int> ran;
    std::thread::id ranOn;
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(queue.Post([&ran, &ranOn, i] {
                ran.push_back(i);
                ranOn = std::this_thread::get_id();
            }));
        }
    });
    poster.join();
    EXPECT_TRUE(ran.empty());
    PumpPending();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MessageQueue, WaitForMessageReturnsOnceSomethingIsPosted) {
    const QueueHandle queue = CurrentThreadQueue();
    bool ran = false;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        queue.Post([&] { ran = true; });
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ran && std::chrono::steady_clock::now() < deadline) {
        WaitForMessage();
        PumpPending();
    }
    poster.join();
    EXPECT_TRUE(ran);
}

TEST(MessageQueue, PostsToAThreadThatHasEndedAreDropped) {
    QueueHandle queue;
    std::thread owner([&] { queue = CurrentThreadQueue(); });
    owner.join();
    ASSERT_TRUE(queue);
    bool ran = false;
    EXPECT_FALSE(queue.Post([&] { ran = true; }));
    PumpPending();
    EXPECT_FALSE(ran);
}

TEST(MessageQueue, AFailingTaskDoesNotStopThePump) {
    const QueueHandle queue = CurrentThreadQueue();
    bool second = false;
    queue.Post([] { throw 42; });
    queue.Post([&] { second = true; });
    PumpPending();
    EXPECT_TRUE(second);
}

TEST(MessageQueue, EmptyHandleDropsPosts) {
    const QueueHandle none;
    EXPECT_FALSE(none.Post([] {}));
}

}  // namespace
}  // namespace tavrin::platform
