// The thumbnail scheduler with a stand-in renderer that only records what it
// was asked to draw; the test finishes renders when it chooses.
#include "QuarnKit/Pages/PageRows.h"
#include "QuarnKit/Pages/ThumbnailScheduler.h"

#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <set>

using namespace quarnkit;
using platform::PdfPageId;

namespace {

const PdfPageId A{10, 0}, B{11, 0}, C{12, 0}, X{13, 0};
const platform::PdfSize thumb{116, 150};

struct StandIn {
    std::set<PdfPageId> shown{A, B, C, X};
    std::vector<ThumbnailRequest> rendered;
    ThumbnailScheduler scheduler{[this](PdfPageId p) { return shown.count(p) > 0; },
                                 [this](const ThumbnailRequest& r) { rendered.push_back(r); }};

    QImage picture(QSize pixels) const
    {
        QImage image(pixels, QImage::Format_RGBA8888_Premultiplied);
        image.fill(Qt::white);
        return image;
    }
    // Finishes whatever runs now with an image of its size.
    void finishRunning()
    {
        ASSERT_TRUE(scheduler.running());
        const ThumbnailRequest r = *scheduler.running();
        scheduler.finish(r, picture(r.pixels));
    }
    void finishAll()
    {
        while (scheduler.running()) finishRunning();
    }
    std::vector<PdfPageId> order() const
    {
        std::vector<PdfPageId> pages;
        for (const auto& r : rendered) pages.push_back(r.page);
        return pages;
    }
};

} // namespace

TEST(ThumbnailScheduler, NewestRequestRendersFirst)
{
    StandIn s;
    s.scheduler.request(X, thumb, 2); // starts at once: nothing else waits
    s.scheduler.request(A, thumb, 2);
    s.scheduler.request(B, thumb, 2);
    s.scheduler.request(C, thumb, 2);
    s.finishAll();
    EXPECT_EQ(s.order(), (std::vector<PdfPageId>{X, C, B, A}));
    EXPECT_EQ(s.rendered.front().pixels, QSize(232, 300));
}

TEST(ThumbnailScheduler, DuplicateRequestsMergeIntoTheNewest)
{
    StandIn s;
    s.scheduler.request(X, thumb, 2);
    s.scheduler.request(A, thumb, 2);
    s.scheduler.request(B, thumb, 2);
    s.scheduler.request(A, thumb, 2);
    s.scheduler.request(A, {58, 75}, 2);
    ASSERT_EQ(s.scheduler.waiting().size(), 2u);
    s.scheduler.request(X, thumb, 2); // running already at this size
    s.finishAll();
    EXPECT_EQ(s.order(), (std::vector<PdfPageId>{X, A, B}));
    EXPECT_EQ(s.rendered[1].pixels, QSize(116, 150));
}

TEST(ThumbnailScheduler, CachedCurrentImagesAreNotRenderedAgain)
{
    StandIn s;
    s.scheduler.request(A, thumb, 1);
    s.scheduler.request(B, thumb, 1);
    s.finishAll();
    s.rendered.clear();

    s.scheduler.invalidate(A);
    s.scheduler.request(A, thumb, 1);
    s.scheduler.request(B, thumb, 1);
    s.finishAll();
    EXPECT_EQ(s.order(), (std::vector<PdfPageId>{A}));

    // After invalidating everything, the old images stay on show until replaced.
    s.rendered.clear();
    const QImage old = s.scheduler.image(B);
    s.scheduler.invalidateAll();
    EXPECT_FALSE(s.scheduler.image(B).isNull());
    EXPECT_EQ(s.scheduler.image(B).cacheKey(), old.cacheKey());
    s.scheduler.request(A, thumb, 1);
    s.scheduler.request(B, thumb, 1);
    s.finishAll();
    EXPECT_EQ(s.order(), (std::vector<PdfPageId>{A, B}));
    EXPECT_NE(s.scheduler.image(B).cacheKey(), old.cacheKey());
}

TEST(ThumbnailScheduler, AnEditDuringTheRenderLeavesTheImageStale)
{
    StandIn s;
    s.scheduler.request(A, thumb, 1);
    s.scheduler.invalidate(A);
    s.finishRunning();
    EXPECT_FALSE(s.scheduler.image(A).isNull());
    EXPECT_FALSE(s.scheduler.isCurrent(A, {116, 150}));
    s.scheduler.request(A, thumb, 1);
    EXPECT_EQ(s.rendered.size(), 2u);
}

// Another document shown (Revert, another file in the window) while a page
// of the old one renders: its image is neither cached, to stand for the new
// document's page of the same object, nor counted against the cost limit;
// the new document's pages render. Edited meanwhile, the document keeps it,
// stale, on show (above).
TEST(ThumbnailScheduler, ARenderOfADocumentShownNoMoreCachesNothing)
{
    StandIn s;
    s.scheduler.request(A, thumb, 1);
    s.scheduler.request(B, thumb, 1);
    s.scheduler.clear();
    ASSERT_TRUE(s.scheduler.running());
    const ThumbnailRequest old = *s.scheduler.running();
    EXPECT_FALSE(s.scheduler.finish(old, s.picture(old.pixels)));
    EXPECT_TRUE(s.scheduler.image(A).isNull());
    EXPECT_EQ(s.scheduler.cost(), 0);
    EXPECT_FALSE(s.scheduler.running()) << "the old document's waiting pages are not drawn";
    s.scheduler.request(A, thumb, 1);
    s.finishAll();
    EXPECT_EQ(s.order(), (std::vector<PdfPageId>{A, A}));
    EXPECT_TRUE(s.scheduler.isCurrent(A, {116, 150}));
}

TEST(ThumbnailScheduler, SizesTooSmallRequestNothingAndHugeOnesAreCapped)
{
    StandIn s;
    s.scheduler.request(A, {0.4, 100}, 1);
    s.scheduler.request(A, {100, 0.4}, 1);
    EXPECT_TRUE(s.rendered.empty());
    EXPECT_FALSE(s.scheduler.running());

    const QSize capped = ThumbnailScheduler::pixelsFor(thumb, 40);
    EXPECT_LE(qint64(capped.width()) * capped.height(), ThumbnailScheduler::maxPixels);
    EXPECT_NEAR(double(capped.width()) / capped.height(), 116.0 / 150.0, 0.01);
    EXPECT_EQ(ThumbnailScheduler::pixelsFor(thumb, 2), QSize(232, 300));
}

TEST(ThumbnailScheduler, PagesScrolledAwayOrCancelledAreDropped)
{
    StandIn s;
    s.scheduler.request(X, thumb, 1);
    s.scheduler.request(A, thumb, 1);
    s.scheduler.request(B, thumb, 1);
    s.scheduler.request(C, thumb, 1);
    s.shown.erase(C);      // scrolled away before its turn
    s.scheduler.cancel(A); // its row left the table
    s.finishAll();
    EXPECT_EQ(s.order(), (std::vector<PdfPageId>{X, B}));
}

TEST(ThumbnailScheduler, AFailedRenderCachesNothingAndTheNextStarts)
{
    StandIn s;
    s.scheduler.request(X, thumb, 1);
    s.scheduler.request(A, thumb, 1);
    EXPECT_FALSE(s.scheduler.finish(*s.scheduler.running(), QImage()));
    EXPECT_TRUE(s.scheduler.image(X).isNull());
    ASSERT_TRUE(s.scheduler.running());
    EXPECT_EQ(s.scheduler.running()->page, A);
}

TEST(ThumbnailScheduler, TheCacheKeepsToItsCostLimit)
{
    std::vector<ThumbnailRequest> rendered;
    ThumbnailScheduler scheduler([](PdfPageId) { return true; },
                                 [&](const ThumbnailRequest& r) { rendered.push_back(r); });
    for (int i = 1; i <= 400; ++i) {
        scheduler.request(PdfPageId{i, 0}, thumb, 2);
        QImage image(scheduler.running()->pixels, QImage::Format_RGBA8888_Premultiplied);
        scheduler.finish(*scheduler.running(), image);
    }
    EXPECT_EQ(rendered.size(), 400u);
    EXPECT_LE(scheduler.peakCost(), ThumbnailScheduler::costLimit);
    EXPECT_GT(scheduler.peakCost(), ThumbnailScheduler::costLimit / 2);
    EXPECT_TRUE(scheduler.image(PdfPageId{1, 0}).isNull()); // the oldest went first
    EXPECT_FALSE(scheduler.image(PdfPageId{400, 0}).isNull());
}

// A mark added on page 4 of a real document: the page list's change tells it
// to invalidate page 4 alone, and asking again for every row renders only it.
TEST(ThumbnailScheduler, AMarkOnPageFourRendersPageFourAgainOnly)
{
    auto doc = QuarnDocument::fromData(testsupport::makeTextPdf(6));
    const std::vector<PdfPageId> pages = platform::pageIds(*pdfOf(*doc));
    std::vector<ThumbnailRequest> rendered;
    ThumbnailScheduler scheduler([](PdfPageId) { return true; },
                                 [&](const ThumbnailRequest& r) { rendered.push_back(r); });
    auto askForAll = [&] {
        for (PdfPageId page : pages) scheduler.request(page, thumb, 1);
        while (scheduler.running()) scheduler.finish(*scheduler.running(), QImage(10, 10, QImage::Format_RGB32));
    };
    askForAll();
    ASSERT_EQ(rendered.size(), 6u);
    rendered.clear();

    platform::PdfAnnotation square;
    square.subtype = "Square";
    square.rect = {100, 100, 50, 50};
    square.color = platform::PdfColor{1, 0, 0};
    platform::PdfAnnotations::add(*pdfOf(*doc), 3, square);
    doc->noteEditOfPage(3);

    const PageRowsChange change = pageRowsChange(pages, platform::pageIds(*pdfOf(*doc)), doc->editedPage());
    ASSERT_EQ(change.kind, PageRowsChange::Kind::onePage);
    scheduler.invalidate(pages[size_t(change.row)]);
    askForAll();
    ASSERT_EQ(rendered.size(), 1u);
    EXPECT_EQ(rendered[0].page, pages[3]);
}

TEST(PageRows, ChangesOfThePageSequence)
{
    const PdfPageId p1{1, 0}, p2{2, 0}, p3{3, 0}, p4{4, 0}, p9{9, 0};
    using Kind = PageRowsChange::Kind;
    struct Case {
        std::vector<PdfPageId> before, after;
        std::optional<PdfPageId> edited;
        PageRowsChange expected;
    } cases[] = {
        {{p1, p2, p3}, {p1, p2, p3}, p2, {Kind::onePage, 1, {}}},
        {{p1, p2, p3}, {p1, p2, p3}, std::nullopt, {Kind::allPages, -1, {}}},
        {{p1, p2, p3}, {p1, p2, p3}, p9, {Kind::allPages, -1, {}}},
        {{p1, p2, p3, p4}, {p1, p4}, std::nullopt, {Kind::removed, -1, {1, 2}}},
        {{p1, p4}, {p9, p1, p2, p4}, std::nullopt, {Kind::inserted, -1, {0, 2}}},
        {{p1, p2, p3}, {p3, p1, p2}, std::nullopt, {Kind::reloaded, -1, {}}},
        {{p1, p2}, {p3}, std::nullopt, {Kind::reloaded, -1, {}}},
    };
    for (const Case& c : cases) EXPECT_EQ(pageRowsChange(c.before, c.after, c.edited), c.expected);
}

TEST(ThumbnailSize, PagesFitTheBoxWithTheirShape)
{
    auto page = [](double w, double h, int rotation) {
        platform::PdfPageGeometry g;
        g.mediaBox = g.cropBox = {0, 0, w, h};
        g.rotation = rotation;
        return g;
    };
    platform::PdfPageGeometry degenerateCrop = page(300, 300, 0);
    degenerateCrop.cropBox = {0, 0, 0.5, 400}; // not above 1 point: the media box counts
    struct Case {
        const char* name;
        platform::PdfPageGeometry geometry;
        platform::PdfSize size;
    } cases[] = {
        {"US Letter", page(612, 792, 0), {116, 150}}, {"A4 landscape by rotation", page(595, 842, 90), {128, 90}},
        {"square", page(500, 500, 0), {128, 128}},    {"small pages grow", page(50, 50, 270), {128, 128}},
        {"no size", page(0, 0, 0), {128, 150}},       {"degenerate crop box", degenerateCrop, {128, 128}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(thumbnailSize(c.geometry), c.size) << c.name;
    }
    EXPECT_DOUBLE_EQ(thumbnailScale(page(612, 792, 0), {232, 300}), 300.0 / 792);
    EXPECT_EQ(thumbnailScale(page(0, 0, 0), {232, 300}), 0);
}
