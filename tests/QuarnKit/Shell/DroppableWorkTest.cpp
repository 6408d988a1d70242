#include "QuarnKit/Shell/DroppableWork.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>

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
