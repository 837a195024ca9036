// The bridge between an SSH object's worker and its owner thread, without a server: what the
// handlers are told, in which pieces, and what happens when an event cannot be posted.

#include "platform/message_queue.h"
#include "ssh/event_bridge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace tavrin::testing {
namespace {

using ::testing::ElementsAre;

class Handlers final : public ssh::SshEvents {
public:
    explicit Handlers(ssh::EventBridge& bridge) : bridge_(bridge) {}
    std::vector<std::int16_t> counts;
    std::u16string text;
    std::vector<std::int16_t> errors;
    int disconnected = 0;

    void Connected(std::int16_t code, const std::u16string&) override { errors.push_back(code); }
    void CryptoInformation(const std::u16string&, const std::u16string&, const std::u16string&,
                           const std::u16string&, const std::u16string&, bool&) override {}
    void HostFingerprint(const std::u16string&, bool&) override {}
    void Received(std::int16_t count) override {
        counts.push_back(count);
        text += bridge_.Read(count);
    }
    void Disconnected() override { ++disconnected; }

private:
    ssh::EventBridge& bridge_;
};

void PumpAll() {
    for (int i = 0; i < 5; ++i) platform::PumpPending();
}

TEST(EventBridgeTest, ReceivedCountsNeverSplitASurrogatePair) {
    auto bridge = std::make_shared<ssh::EventBridge>(platform::CurrentThreadQueue());
    Handlers handlers(*bridge);
    bridge->SetSink(&handlers);
    const auto worker = ssh::MakeWorkerSink(bridge);
    // The pair would straddle the 32,767th unit; then a second piece.
    std::u16string text(32766, u'a');
    text += u"\U0001F600";
    text += std::u16string(10, u'b');
    worker->Output(std::u16string(text));
    worker->Disconnected();
    PumpAll();
    EXPECT_THAT(handlers.counts, ElementsAre(32766, 12));
    EXPECT_EQ(handlers.text, text);
    EXPECT_TRUE(handlers.errors.empty());
    EXPECT_EQ(handlers.disconnected, 1);
}

TEST(EventBridgeTest, AFullBufferHoldsTheWorkerBackUntilTheHandlersRead) {
    auto bridge = std::make_shared<ssh::EventBridge>(platform::CurrentThreadQueue());
    const auto worker = ssh::MakeWorkerSink(bridge);
    worker->Output(std::u16string(ssh::kPendingLimit - 1, u'x'));
    EXPECT_TRUE(worker->HasRoom());
    worker->Output(u"yz");
    EXPECT_FALSE(worker->HasRoom());
    EXPECT_EQ(bridge->Read(2), u"xx");
    EXPECT_TRUE(worker->HasRoom());
    PumpAll();  // no handlers: the announcements go nowhere
}

TEST(EventBridgeTest, NoEventReachesTheHandlersAfterDetach) {
    auto bridge = std::make_shared<ssh::EventBridge>(platform::CurrentThreadQueue());
    Handlers handlers(*bridge);
    bridge->SetSink(&handlers);
    const auto worker = ssh::MakeWorkerSink(bridge);
    worker->Output(u"late");
    worker->Connected(3, u"late");
    bridge->Detach();
    worker->Disconnected();
    PumpAll();
    EXPECT_TRUE(handlers.counts.empty());
    EXPECT_TRUE(handlers.errors.empty());
    EXPECT_EQ(handlers.disconnected, 0);
    EXPECT_TRUE(worker->CancelFlag().load());
}

TEST(EventBridgeTest, OutputThatCouldNotBeAnnouncedFailsTheRun) {
    auto bridge = std::make_shared<ssh::EventBridge>(platform::CurrentThreadQueue());
    Handlers handlers(*bridge);
    bridge->SetSink(&handlers);
    const auto worker = ssh::MakeWorkerSink(bridge);
    // Fill the thread's queue so that the announcement of the output is refused.
    const auto queue = platform::CurrentThreadQueue();
    int filled = 0;
    while (filled < static_cast<int>(platform::kMaxPendingTasks) + 10 && queue.Post([] {})) ++filled;
    worker->Output(u"ERROR");
    PumpAll();  // the queue drains; the output was never announced
    worker->Disconnected();
    PumpAll();
    EXPECT_TRUE(handlers.counts.empty());
    EXPECT_THAT(handlers.errors, ElementsAre(ssh::kErrorInternal));
    EXPECT_EQ(handlers.disconnected, 1);
}

}  // namespace
}  // namespace tavrin::testing
