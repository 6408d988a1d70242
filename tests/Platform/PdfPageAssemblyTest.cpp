#include "Platform/PdfPageAssembly.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using platform::PdfDocument;
using platform::PdfError;
using platform::PdfErrorCode;

namespace {

std::string pageText(const PdfDocument& doc, int page) { return doc.textPage(page).text(); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::shared_ptr<PdfDocument> roundTrip(const PdfDocument& doc) { return PdfDocument::openBytes(doc.save()); }

} // namespace

TEST(PdfPageAssembly, AppendedPagesAndTextSurviveSaveAndReopen)
{
    auto target = PdfDocument::createEmpty();
    auto first = PdfDocument::openBytes(testsupport::makeTextPdf(3, "first"));
    auto second = PdfDocument::openBytes(testsupport::makeTextPdf(2, "second"));
    platform::appendPages(*target, *first, 1, 2);
    platform::appendPages(*target, *second, 0, 2);
    ASSERT_EQ(target->pageCount(), 4);

    auto reopened = roundTrip(*target);
    ASSERT_EQ(reopened->pageCount(), 4);
    const std::string expected[4][2] = {
        {"Page 2", "first"}, {"Page 3", "first"}, {"Page 1", "second"}, {"Page 2", "second"}};
    for (int i = 0; i < 4; ++i) {
        const std::string text = pageText(*reopened, i);
        EXPECT_TRUE(contains(text, expected[i][0]) && contains(text, expected[i][1])) << i << ": " << text;
    }
    EXPECT_DOUBLE_EQ(reopened->pageGeometry(0).mediaBox.width, 612);
}

TEST(PdfPageAssembly, AppendsAfterExistingPages)
{
    auto target = PdfDocument::createBlank(300, 400);
    auto source = PdfDocument::openBytes(testsupport::makeTextPdf(1));
    platform::appendPages(*target, *source, 0, 1);
    auto reopened = roundTrip(*target);
    ASSERT_EQ(reopened->pageCount(), 2);
    EXPECT_DOUBLE_EQ(reopened->pageGeometry(0).mediaBox.width, 300);
    EXPECT_TRUE(contains(pageText(*reopened, 1), "Page 1"));
    EXPECT_TRUE(pageText(*reopened, 0).empty());
}

TEST(PdfPageAssembly, KeepsRotationAndBoxesOfRealFiles)
{
    auto source = PdfDocument::openFile(testsupport::corpusPath("habibi-rotated.pdf"));
    const int n = source->pageCount();
    ASSERT_GT(n, 0);
    auto target = PdfDocument::createEmpty();
    platform::appendPages(*target, *source, 0, n);
    auto reopened = roundTrip(*target);
    ASSERT_EQ(reopened->pageCount(), n);
    for (int i = 0; i < n; ++i) {
        const auto want = source->pageGeometry(i);
        const auto got = reopened->pageGeometry(i);
        EXPECT_EQ(got.rotation, want.rotation) << i;
        EXPECT_DOUBLE_EQ(got.displaySize.width, want.displaySize.width) << i;
        EXPECT_DOUBLE_EQ(got.displaySize.height, want.displaySize.height) << i;
        EXPECT_EQ(pageText(*reopened, i), pageText(*source, i)) << i;
    }
}

TEST(PdfPageAssembly, SharedResourcesAreCopiedOncePerCall)
{
    // The pages of this file share fonts; one call copies them once, page by
    // page calls copy them for every page.
    auto source = PdfDocument::openFile(testsupport::corpusPath("pdflatex-4-pages.pdf"));
    const int n = source->pageCount();
    ASSERT_GE(n, 2);
    auto together = PdfDocument::createEmpty();
    platform::appendPages(*together, *source, 0, n);
    auto apart = PdfDocument::createEmpty();
    for (int i = 0; i < n; ++i) platform::appendPages(*apart, *source, i, 1);
    const auto togetherBytes = together->save();
    const auto apartBytes = apart->save();
    EXPECT_LT(togetherBytes.size(), apartBytes.size() * 3 / 4);
    auto reopened = PdfDocument::openBytes(togetherBytes);
    ASSERT_EQ(reopened->pageCount(), n);
    for (int i = 0; i < n; ++i) EXPECT_EQ(pageText(*reopened, i), pageText(*source, i)) << i;
}

TEST(PdfPageAssembly, AppendsADocumentToItself)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(2));
    platform::appendPages(*doc, *doc, 0, 2);
    auto reopened = roundTrip(*doc);
    ASSERT_EQ(reopened->pageCount(), 4);
    EXPECT_TRUE(contains(pageText(*reopened, 2), "Page 1"));
    EXPECT_TRUE(contains(pageText(*reopened, 3), "Page 2"));
}

TEST(PdfPageAssembly, RefusesPagesOutsideTheSource)
{
    auto target = PdfDocument::createBlank();
    auto source = PdfDocument::openBytes(testsupport::makeTextPdf(3));
    for (auto [from, count] : {std::pair{-1, 1}, {0, 4}, {3, 1}, {2, 2}, {0, -1}}) {
        try {
            platform::appendPages(*target, *source, from, count);
            ADD_FAILURE() << from << "+" << count << " was accepted";
        } catch (const PdfError& e) {
            EXPECT_EQ(e.code(), PdfErrorCode::pageOutOfRange) << from << "+" << count;
        }
    }
    EXPECT_EQ(target->pageCount(), 1);
    platform::appendPages(*target, *source, 3, 0);
    EXPECT_EQ(target->pageCount(), 1);
}

TEST(PdfPageAssembly, NeedsTheSourceUnlocked)
{
    auto source = PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(source->isLocked());
    auto target = PdfDocument::createEmpty();
    try {
        platform::appendPages(*target, *source, 0, 1);
        ADD_FAILURE() << "a locked document gave its pages";
    } catch (const PdfError& e) {
        EXPECT_EQ(e.code(), PdfErrorCode::passwordRequired);
    }
    ASSERT_TRUE(source->unlock("openpassword"));
    platform::appendPages(*target, *source, 0, 1);
    // The copy is not encrypted: the pages were decrypted on the way over.
    auto reopened = roundTrip(*target);
    EXPECT_FALSE(reopened->needsPassword());
    ASSERT_EQ(reopened->pageCount(), 1);
    EXPECT_EQ(pageText(*reopened, 0), pageText(*source, 0));
    EXPECT_FALSE(pageText(*reopened, 0).empty());
}

TEST(PdfPageAssembly, KeepingPagesDropsTheOthersInOrder)
{
    const struct {
        std::vector<int> kept;
        std::vector<std::string> texts;
    } cases[] = {
        {{1}, {"Page 2"}},
        {{3, 1}, {"Page 2", "Page 4"}},
        {{0, 1, 2, 3, 9, -1}, {"Page 1", "Page 2", "Page 3", "Page 4"}},
    };
    for (const auto& c : cases) {
        auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(4));
        platform::keepPages(*doc, c.kept);
        auto reopened = roundTrip(*doc);
        ASSERT_EQ(reopened->pageCount(), int(c.texts.size()));
        for (size_t i = 0; i < c.texts.size(); ++i)
            EXPECT_TRUE(contains(pageText(*reopened, int(i)), c.texts[i])) << i << ": " << pageText(*reopened, int(i));
    }
    auto locked = PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    EXPECT_THROW(platform::keepPages(*locked, {0}), PdfError);
}
