#include "QuarnKit/Explore/ExploreRanking.h"

#include <gtest/gtest.h>

using namespace quarnkit;

namespace {

QDateTime day(int n) { return QDateTime::fromSecsSinceEpoch(1700000000 + n * 86400, Qt::UTC); }

ExploreItem item(const QString& path, std::optional<QDateTime> used = {}, std::optional<QDateTime> modified = {},
                 std::optional<std::int64_t> size = {}, std::optional<QDateTime> added = {},
                 std::optional<QString> title = {})
{
    return ExploreItem::make(path, std::nullopt, title, std::nullopt, size, used, added, modified);
}

std::vector<QString> names(const std::vector<ExploreItem>& items)
{
    std::vector<QString> out;
    for (const ExploreItem& i : items) out.push_back(i.name);
    return out;
}

} // namespace

TEST(ExploreRankingTest, PathsASearchNeverShows)
{
    const ExploreExclusions exclusions("/var/home/ann/", {"/tmp/ravlen-1000", "/var/home/ann/.cache/"});
    struct Case {
        const char* path;
        bool excluded;
    };
    const std::vector<Case> cases = {
        {"/var/home/ann/Documents/a.pdf", false}, // a home under /var is still the user's
        {"/var/home/ann/.hidden.pdf", false},     // the file's own name is not tested
        {"/var/home/ann/Documents/.git/a.pdf", true},
        {"/var/home/ann/.local/share/Trash/files/a.pdf", true},
        {"/var/home/ann/snap/app/common/a.pdf", true},
        {"/var/home/ann/snapshots/a.pdf", false},
        {"/tmp/ravlen-1000/share/a.pdf", true},
        {"/tmp/other/a.pdf", true},
        {"/usr/share/doc/a.pdf", true},
        {"/media/ann/usb/a.pdf", false},
        {"/media/ann/usb/.Trash-1000/a.pdf", true},
    };
    for (const Case& c : cases) EXPECT_EQ(exclusions.excludes(c.path), c.excluded) << c.path;
    EXPECT_FALSE(exclusions.excludesFolder("/var/home/ann"));
    EXPECT_TRUE(exclusions.excludesFolder("/var/home/ann/.config"));
    EXPECT_TRUE(exclusions.excludesFolder("/tmp/ravlen-1000"));
    EXPECT_EQ(exclusions.home(), "/var/home/ann");
}

TEST(ExploreRankingTest, TheTemporaryFolderIsLeftOutUnlessTheHomeFolderIsInIt)
{
    struct Case {
        const char* home;
        const char* temporary;
        const char* path;
        bool excluded;
    };
    const std::vector<Case> cases = {
        {"/home/ann", "/tmp", "/tmp/a.pdf", true},
        {"/home/ann", "/home/ann/tmp", "/home/ann/tmp/a.pdf", true},
        {"/home/ann", "/home/ann/tmp", "/home/ann/Documents/a.pdf", false},
        {"/tmp/ann", "/tmp", "/tmp/ann/Documents/a.pdf", false},
        {"/tmp/ann", "/tmp", "/tmp/other/a.pdf", true},
        {"/tmp/ann", "/tmp/", "/tmp/ann/a.pdf", false},
        {"/tmp", "/tmp", "/tmp/Documents/a.pdf", false},
        {"/tmp/ann", "/tmp/ann", "/tmp/ann/a.pdf", false},
        {"/tmp/ann", "/tmp/ann", "/tmp/ann/.cache/a.pdf", true},
        {"/tmpfiles/ann", "/tmp", "/tmpfiles/ann/a.pdf", false},
    };
    for (const Case& c : cases) {
        const auto exclusions = ExploreExclusions::forUser(c.home, c.temporary, QString(c.home) + "/.cache");
        EXPECT_EQ(exclusions.excludes(c.path), c.excluded) << c.home << " " << c.temporary << " " << c.path;
        EXPECT_FALSE(exclusions.excludesFolder(c.home)) << c.home << " " << c.temporary;
    }
}

TEST(ExploreRankingTest, TheOrderOfEachSort)
{
    const std::vector<ExploreItem> items = {
        item("/a/Never opened.pdf", {}, day(5), 10, day(1)),
        item("/a/Opened yesterday.pdf", day(9), day(1), 30, day(3)),
        item("/a/Chapter 10.pdf", {}, day(6), {}, {}),
        item("/a/Chapter 9.pdf", {}, day(6), 30, day(3)),
        item("/b/Chapter 9.pdf", {}, {}, 20, day(2)),
    };
    struct Case {
        ExploreSort sort;
        std::vector<QString> order;
    };
    const std::vector<Case> cases = {
        {ExploreSort::lastOpened,
         {"Opened yesterday.pdf", "Chapter 9.pdf", "Chapter 10.pdf", "Never opened.pdf", "Chapter 9.pdf"}},
        {ExploreSort::name,
         {"Chapter 9.pdf", "Chapter 9.pdf", "Chapter 10.pdf", "Never opened.pdf", "Opened yesterday.pdf"}},
        {ExploreSort::dateAdded,
         {"Chapter 9.pdf", "Opened yesterday.pdf", "Chapter 9.pdf", "Never opened.pdf", "Chapter 10.pdf"}},
        {ExploreSort::size,
         {"Chapter 9.pdf", "Opened yesterday.pdf", "Chapter 9.pdf", "Never opened.pdf", "Chapter 10.pdf"}},
    };
    for (const Case& c : cases) {
        const std::vector<ExploreItem> sorted = ExploreRanking::sorted(items, c.sort);
        EXPECT_EQ(names(sorted), c.order) << name(c.sort).toStdString();
        // The best three are the first three of the full order.
        EXPECT_EQ(ExploreRanking::top(items, c.sort, 3), std::vector<ExploreItem>(sorted.begin(), sorted.begin() + 3));
    }
    // Equal titles in two folders: by path.
    EXPECT_EQ(ExploreRanking::sorted(items, ExploreSort::name)[0].path, "/a/Chapter 9.pdf");
    EXPECT_TRUE(ExploreRanking::top(items, ExploreSort::name, 0).empty());
}

TEST(ExploreRankingTest, APickerKeepsTheBestWithoutSortingAll)
{
    TopPicker<int> picker(5000, [](int a, int b) { return a > b; });
    EXPECT_EQ(picker.kept().capacity(), 1024u);
    for (int i = 0; i < 6000; ++i) picker.offer((i * 7919) % 6000);
    ASSERT_EQ(picker.kept().size(), 5000u);
    EXPECT_EQ(picker.kept().front(), 5999);
    EXPECT_EQ(picker.kept().back(), 1000);

    // Among equals the first offered stays first; a full picker drops a tie.
    TopPicker<std::pair<int, char>> ties(2, [](auto a, auto b) { return a.first > b.first; });
    for (auto x : {std::pair{1, 'a'}, {2, 'b'}, {1, 'c'}, {2, 'd'}}) ties.offer(x);
    EXPECT_EQ(ties.kept(), (std::vector<std::pair<int, char>>{{2, 'b'}, {2, 'd'}}));
    EXPECT_TRUE(TopPicker<int>(-3, std::less<int>()).kept().empty());
}

TEST(ExploreRankingTest, TheOverflowLine)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(ExploreSummary::overflow(300, 300, english), std::nullopt);
    EXPECT_EQ(ExploreSummary::overflow(300, 1234, english), "Showing 300 of 1,234. Refine the search to see more.");
}
