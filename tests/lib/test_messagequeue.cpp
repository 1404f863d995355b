#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "lib/base/MessageQueue.h"

using namespace brenvo;
using namespace std::chrono_literals;

TEST(MessageQueueTest, SynchronizeRunsOnTheOwnerAndBlocksTheWorkerUntilDone) {
    MessageQueue q;
    const auto owner = std::this_thread::get_id();
    std::thread::id ranOn;
    int value = 0;            // touched only on the owner thread
    int seenByWorker = -1;
    bool returned = false;
    std::atomic<bool> workerDone{false};

    std::thread worker([&] {
        returned = q.Synchronize([&] {
            ranOn = std::this_thread::get_id();
            value = 42;
        });
        seenByWorker = value;   // the handler has run before Synchronize returned
        workerDone = true;
        q.Wake();
    });
    EXPECT_TRUE(q.ProcessUntil([&] { return workerDone.load(); }, 10s));
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(ranOn, owner);
    EXPECT_EQ(seenByWorker, 42);
}

TEST(MessageQueueTest, PostedHandlersRunInOrderOnlyWhenPumpedAndNestedPumpsKeepTheOrder) {
    MessageQueue q;
    std::vector<int> order;
    std::thread([&] {
        for (int i = 1; i <= 4; ++i) EXPECT_TRUE(q.Post([&order, i] { order.push_back(i); }));
    }).join();
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(q.PendingCount(), 4u);

    // The first handler pumps again (as progress updates do); the order stays.
    q.Post([&] {
        order.push_back(5);
        q.Post([&] { order.push_back(7); });   // queued behind, not run by this pump
    });
    q.Post([&] { order.push_back(6); });
    EXPECT_EQ(q.ProcessMessages(), 6u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(q.ProcessMessages(), 1u);
    EXPECT_EQ(order.back(), 7);

    order.clear();
    q.Post([&] {
        order.push_back(1);
        q.ProcessMessages();   // runs 2 and 3 before this handler goes on
        order.push_back(4);
    });
    q.Post([&] { order.push_back(2); });
    q.Post([&] { order.push_back(3); });
    q.ProcessMessages();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(MessageQueueTest, OwnerCallsRunAtOnceAndOtherThreadsMayNotPump) {
    MessageQueue q;
    bool ran = false;
    EXPECT_TRUE(q.Synchronize([&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(q.PendingCount(), 0u);

    std::thread([&] {
        EXPECT_THROW(q.ProcessMessages(), std::logic_error);
        EXPECT_THROW(q.WaitAndProcess(1ms), std::logic_error);
    }).join();
}

TEST(MessageQueueTest, HandlerExceptionsReachTheWorkerOrTheCallerOfTheLoop) {
    MessageQueue q;
    std::atomic<bool> done{false};
    std::string caught;
    std::thread worker([&] {
        try {
            q.Synchronize([] { throw std::runtime_error("kaputt"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        done = true;
        q.Wake();
    });
    EXPECT_TRUE(q.ProcessUntil([&] { return done.load(); }, 10s));
    worker.join();
    EXPECT_EQ(caught, "kaputt");

    bool secondRan = false;
    q.Post([] { throw std::runtime_error("posted"); });
    q.Post([&] { secondRan = true; });
    EXPECT_THROW(q.ProcessMessages(), std::runtime_error);
    EXPECT_FALSE(secondRan);
    q.ProcessMessages();
    EXPECT_TRUE(secondRan);
}

TEST(MessageQueueTest, ShutdownReleasesWaitingWorkersWithoutRunningTheirHandlers) {
    auto q = std::make_shared<MessageQueue>();
    std::atomic<int> ran{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([q, &ran, &refused] {
            if (!q->Synchronize([&ran] { ++ran; })) ++refused;
        });
    // wait until all three are queued, then shut down instead of pumping
    while (q->PendingCount() < 3) std::this_thread::yield();
    q->Shutdown();
    for (auto& w : workers) w.join();
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(refused.load(), 3);
    EXPECT_TRUE(q->IsShutDown());
    EXPECT_FALSE(q->Post([] {}));
    std::thread([&] { EXPECT_FALSE(q->Synchronize([&ran] { ++ran; })); }).join();
    EXPECT_EQ(q->ProcessMessages(), 0u);
}

TEST(MessageQueueTest, WaitingEndsOnWakeOrTimeout) {
    MessageQueue q;
    // nothing comes: the time is up
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(q.ProcessUntil([] { return false; }, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 50ms);
    EXPECT_EQ(q.WaitAndProcess(10ms), 0u);

    // a flag set on another thread, announced by Wake only
    std::atomic<bool> flag{false};
    std::thread t([&] {
        flag = true;
        q.Wake();
    });
    EXPECT_TRUE(q.ProcessUntil([&] { return flag.load(); }, MessageQueue::Infinite));
    t.join();

    int calls = 0;
    std::atomic<int> wakeups{0};
    q.SetWakeupCallback([&] { ++wakeups; });
    std::thread([&] { q.Post([&] { ++calls; }); }).join();
    EXPECT_EQ(wakeups.load(), 1);
    EXPECT_EQ(q.WaitAndProcess(MessageQueue::Infinite), 1u);
    EXPECT_EQ(calls, 1);
    q.SetWakeupCallback(nullptr);
}

TEST(MessageQueueTest, ManyWorkersHandOverWithoutLosingAnything) {
    MessageQueue q;
    long counter = 0;   // owner-only, deliberately not atomic
    constexpr int Workers = 4, Each = 500;
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < Workers; ++w)
        workers.emplace_back([&] {
            for (int i = 0; i < Each; ++i) {
                if (i % 2 == 0)
                    q.Synchronize([&] { ++counter; });
                else
                    q.Post([&] { ++counter; });
            }
            ++finished;
            q.Wake();
        });
    EXPECT_TRUE(q.ProcessUntil([&] { return finished.load() == Workers && q.PendingCount() == 0; }, 30s));
    for (auto& t : workers) t.join();
    q.ProcessMessages();
    EXPECT_EQ(counter, long(Workers) * Each);
}
