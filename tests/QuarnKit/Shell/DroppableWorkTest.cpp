#include "QuarnKit/Shell/DroppableWork.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <vector>

using quarnkit::DroppableWork;

// Quitting drops the work not started and stops the running one at its next
// check; nothing starts afterwards. Told by what ran, never by a clock.
TEST(DroppableWork, DropStopsTheRunningWorkAndStartsNoMore)
{
    DroppableWork work;
    work.pool()->setMaxThreadCount(1);
    std::atomic<bool> started{false};
    std::atomic<int> items{0}, later{0};
    work.start([&] {
        started = true;
        while (!work.stopping()) ++items; // one item at a time, as a long list is read
    });
    for (int i = 0; i < 5; ++i) work.start([&] { ++later; });
    while (!started) QThread::yieldCurrentThread();

    EXPECT_TRUE(work.drop(-1)); // ends: the running work saw the stop
    EXPECT_GT(items.load(), 0);
    EXPECT_EQ(later.load(), 0); // the queued five were dropped
    work.start([&] { ++later; });
    EXPECT_TRUE(work.pool()->waitForDone(-1));
    EXPECT_EQ(later.load(), 0);
}

// What the user waits for (a password tried) starts before the queued
// screen work of a lower priority.
TEST(DroppableWork, WorkOfAHigherPriorityStartsFirst)
{
    DroppableWork work;
    work.pool()->setMaxThreadCount(1);
    std::atomic<bool> started{false}, release{false};
    std::vector<int> order; // written by the pool's one thread
    work.start([&] {
        started = true;
        while (!release) QThread::yieldCurrentThread();
    });
    while (!started) QThread::yieldCurrentThread();
    for (int i = 0; i < 3; ++i) work.start([&order, i] { order.push_back(i); });
    work.start([&order] { order.push_back(9); }, 1);
    release = true;
    ASSERT_TRUE(work.pool()->waitForDone(-1));
    EXPECT_EQ(order, (std::vector<int>{9, 0, 1, 2}));
}
