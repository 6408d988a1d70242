// Reading a page's content on a worker while the window's thread uses the
// document: crafted pages that never finish, or that claim enormous images,
// must neither hold the window up nor fill the machine's memory.
#include "Platform/MemoryUse.h"
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageDraw.h"
#include "Platform/PdfPageIdentity.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <sys/resource.h>

using platform::PdfDocument;
using platform::PdfError;
using platform::PdfErrorCode;

namespace {

long peakKilobytes()
{
    rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

TEST(PdfPageWork, APageThatNeverEndsGivesWayToTheWindowAndStopsWithIt)
{
    // Forms that draw forms for ever; and a gigabyte of spaces in one
    // stream, without an operator between which MuPDF would look up.
    for (const QByteArray& pdf : {testsupport::makeEndlessPagePdf(), testsupport::makeSilentPagePdf(1u << 30)}) {
        const auto doc = PdfDocument::openBytes(pdf);
        ASSERT_EQ(doc->pageCount(), 2);
        // Each reader of page 1 on a worker, as the page view and the sidebar read it.
        std::atomic<int> ended{0};
        std::vector<PdfErrorCode> codes(3, PdfErrorCode::general);
        std::vector<std::thread> workers;
        const std::vector<std::function<void()>> reads = {
            [&] { doc->displayList(0); },
            [&] { platform::recordPage(*doc, platform::pageId(*doc, 0)); },
            [&] { doc->textPage(0); },
        };
        for (size_t i = 0; i < reads.size(); ++i)
            workers.emplace_back([&, i] {
                try {
                    reads[i]();
                } catch (const PdfError& error) {
                    codes[i] = error.code();
                }
                ++ended;
            });

        // The test's thread is the window's: each of its calls gets the document
        // while the workers keep trying to read page 1, which they take up again
        // whenever the window has let it be a while. A worker gives way when
        // asked: page 1 never finishes, so a call waiting for it never returns.
        for (int round = 0; round < 10; ++round) {
            testsupport::waitFor([] { return false; }, 60);
            EXPECT_NE(doc->textPage(1).text().find("Page 2"), std::string::npos);
            EXPECT_EQ(doc->pageGeometry(0).mediaBox.width, 612);
        }
        EXPECT_EQ(ended, 0) << "page 1 never finishes";

        doc->stopPageWork();
        EXPECT_TRUE(testsupport::waitFor([&] { return ended == int(reads.size()); })) << "the readers never stopped";
        for (std::thread& worker : workers) worker.join();
        EXPECT_EQ(codes, std::vector<PdfErrorCode>(reads.size(), PdfErrorCode::cancelled));
        // Later reads of the page stop at once; the rest of the document is there.
        EXPECT_THROW(doc->displayList(0), PdfError);
        EXPECT_EQ(doc->pageCount(), 2);
    }
}

TEST(PdfPageWork, OnTheWindowsThreadAPageThatNeverEndsGivesUpInTheEnd)
{
    // Nothing interrupts the window's own reading (a text selection on the
    // page, say): after its time limit the page counts as unreadable.
    const auto doc = PdfDocument::openBytes(testsupport::makeEndlessPagePdf());
    try {
        doc->textPage(0);
        ADD_FAILURE() << "the endless page was read to its end";
    } catch (const PdfError& error) {
        EXPECT_EQ(error.code(), PdfErrorCode::cancelled);
    }
    EXPECT_NE(doc->textPage(1).text().find("Page 2"), std::string::npos);
}

TEST(PdfPageWork, AnImageThatClaimsGigabytesIsNotDecoded)
{
    // 65536 by 65536 one-bit pixels (the widest image MuPDF takes): 512 MiB
    // for the decoder's bitmap alone, and minutes of decoding.
    const auto doc = PdfDocument::openBytes(testsupport::makeJbig2BombPdf(65536));
    const long before = peakKilobytes();
    QImage image;
    std::thread worker([&] { image = doc->displayList(0)->render(0.25); });
    worker.join();
    // The page is drawn (MuPDF fills what it could not decode) …
    ASSERT_FALSE(image.isNull());
    // … and the decoder never got its bitmap.
    EXPECT_LT(peakKilobytes() - before, long(platform::engineBlockLimit / 1024));
}
