#include "QuarnKit/Export/PagePipeline.h"

#include "QuarnKit/Export/ExportSettings.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <numeric>
#include <set>
#include <thread>

using namespace quarnkit;
using platform::PdfDocument;

namespace {

// Page i's bytes name the page and the text the worker's copy read on it.
QByteArray pageBytes(const PdfDocument& doc, int i)
{
    return QByteArray::number(i) + ":" + QByteArray::fromStdString(doc.textPage(i).text()).trimmed();
}

} // namespace

TEST(PagePipeline, ResultsComeInListOrderFromSeveralThreads)
{
    const auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(30));
    std::vector<int> pages;
    for (int i = 29; i >= 0; i -= 2) pages.push_back(i);
    std::vector<QByteArray> got;
    std::vector<int> announced;
    std::set<std::thread::id> threads;
    std::mutex mutex;
    PagePipeline::run(
        doc, pages,
        [&](const PdfDocument& d, int i) {
            std::lock_guard lock(mutex);
            threads.insert(std::this_thread::get_id());
            return pageBytes(d, i);
        },
        [&](int k) { announced.push_back(k); }, [&](int k, const QByteArray& b) { got.push_back(b); }, 4);
    ASSERT_EQ(got.size(), pages.size());
    for (size_t k = 0; k < pages.size(); ++k) {
        EXPECT_EQ(got[k], QByteArray::number(pages[k]) + ":Page " + QByteArray::number(pages[k] + 1));
        EXPECT_EQ(announced[k], int(k));
    }
    EXPECT_FALSE(threads.count(std::this_thread::get_id())); // the calling thread only consumes
}

TEST(PagePipeline, TheFirstFailureEndsTheRun)
{
    const auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(20));
    std::vector<int> pages(20);
    std::iota(pages.begin(), pages.end(), 0);
    for (int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        std::vector<int> consumed;
        auto failing = [](const PdfDocument& d, int i) {
            if (i == 7) throw ExportError(ExportError::Kind::renderFailed);
            return pageBytes(d, i);
        };
        EXPECT_THROW(PagePipeline::run(
                         doc, pages, failing, {}, [&](int k, const QByteArray&) { consumed.push_back(k); }, threads),
                     ExportError);
        // Only pages before the failing one were handed on, in order.
        ASSERT_LE(consumed.size(), 7u);
        for (size_t k = 0; k < consumed.size(); ++k) EXPECT_EQ(consumed[k], int(k));

        auto stopAtThree = [](int k) {
            if (k == 3) throw ExportCancelled();
        };
        EXPECT_THROW(PagePipeline::run(
                         doc, pages, pageBytes, stopAtThree, [](int, const QByteArray&) {}, threads),
                     ExportCancelled);
    }
}
