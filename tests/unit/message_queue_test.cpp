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
    EXPECT_FALSE(PumpPending().quit);
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
        WaitForMessage(std::chrono::seconds(5));
        (void)PumpPending();
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
    EXPECT_FALSE(queue.Ready());
    (void)PumpPending();
    EXPECT_FALSE(ran);
}

TEST(MessageQueue, AFailingTaskDoesNotStopThePump) {
    const QueueHandle queue = CurrentThreadQueue();
    bool second = false;
    queue.Post([] { throw 42; });
    queue.Post([&] { second = true; });
    (void)PumpPending();
    EXPECT_TRUE(second);
}

// A quit request ends the pump after the tasks posted before it, goes to the pumping caller
// once, and wakes a waiting thread; it is not put back by the pump itself.
TEST(MessageQueue, AQuitRequestEndsThePumpAndIsHandedToTheCaller) {
    const QueueHandle queue = CurrentThreadQueue();
    bool ran = false;
    queue.Post([&] { ran = true; });
    PostQuit(5);
    const auto started = std::chrono::steady_clock::now();
    WaitForMessage(std::chrono::seconds(5));
    const PumpResult first = PumpPending();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(first.quit);
    EXPECT_EQ(first.quitCode, 5);
    EXPECT_FALSE(PumpPending().quit);

    queue.Post([] { PostQuit(9); });  // from inside a task, as a host's handler would
    EXPECT_EQ(PumpPending().quitCode, 9);
    WaitForMessage(std::chrono::milliseconds(200));  // nothing pending: the limit ends it
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(190));
    EXPECT_LT(took, std::chrono::seconds(3));
}

// Posts beyond the queue's limit fail, and the queue's thread can tell that some did.
TEST(MessageQueue, AFullQueueRefusesAndCountsTheRefusals) {
    const QueueHandle queue = CurrentThreadQueue();
    EXPECT_TRUE(queue.Ready());
    const std::uint64_t before = RefusedPosts();
    int ran = 0;
    std::size_t accepted = 0;
    std::thread poster([&] {
        while (accepted <= kMaxPendingTasks && queue.Post([&] { ++ran; })) ++accepted;
        EXPECT_FALSE(queue.Post([] {}));
    });
    poster.join();
    EXPECT_EQ(accepted, kMaxPendingTasks);
    EXPECT_EQ(RefusedPosts(), before + 2);
    (void)PumpPending();
    EXPECT_EQ(ran, static_cast<int>(kMaxPendingTasks));
    EXPECT_TRUE(queue.Post([&] { ++ran; })) << "room again once the thread has pumped";
    (void)PumpPending();
    EXPECT_EQ(RefusedPosts(), before + 2);
}

TEST(MessageQueue, EmptyHandleDropsPosts) {
    const QueueHandle none;
    EXPECT_FALSE(none.Post([] {}));
}

}  // namespace
}  // namespace tavrin::platform
