// The welcome window's first pages: drawn once per file version, off the UI
// thread, and the 120 most recently used kept.
#include "Quarn/Welcome/RecentThumbnails.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>

using namespace quarn;
using Thumbnail = quarnkit::PageThumbnail::Result;

TEST(RecentThumbnails, DrawsEachKeyOnceOffTheUIThreadAndKeepsTheNewest)
{
    std::atomic<int> drawn = 0;
    std::atomic<bool> onUIThread = false;
    QThread* ui = QThread::currentThread();
    RecentThumbnails thumbnails([&](const QString&) {
        ++drawn;
        onUIThread = onUIThread || QThread::currentThread() == ui;
        return Thumbnail{Thumbnail::Kind::locked, {}};
    });
    const auto item = [](int i) {
        return RecentItem{std::nullopt, "/f.pdf", "f", "", QStringLiteral("/f%1.pdf|0.0").arg(i)};
    };

    // Asked twice while it is drawn: drawn once.
    thumbnails.request(item(0));
    thumbnails.request(item(0));
    ASSERT_TRUE(testsupport::waitFor([&] { return thumbnails.idle(); }));
    EXPECT_EQ(drawn, 1);
    EXPECT_FALSE(onUIThread);
    EXPECT_EQ(thumbnails.thumbnail(item(0).key)->kind, Thumbnail::Kind::locked);

    // Asked again once known: only marked as used, so it outlives the next 119.
    thumbnails.request(item(0));
    EXPECT_EQ(drawn, 1);
    for (int i = 1; i < RecentThumbnails::keepLimit; ++i) thumbnails.store(Thumbnail::unreadable(), item(i).key);
    thumbnails.request(item(0));
    thumbnails.store(Thumbnail::unreadable(), item(RecentThumbnails::keepLimit).key);
    EXPECT_EQ(thumbnails.count(), RecentThumbnails::keepLimit);
    EXPECT_TRUE(thumbnails.thumbnail(item(0).key));
    EXPECT_FALSE(thumbnails.thumbnail(item(1).key)); // the oldest went
}
