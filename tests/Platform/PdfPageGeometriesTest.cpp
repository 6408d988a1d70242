#include "Platform/PdfPageGeometries.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace platform;

// The geometries read in one pass agree with those of loaded pages.
TEST(PdfPageGeometriesTest, MatchEachPagesOwnGeometry)
{
    for (const char* name :
         {"habibi-rotated.pdf", "pdflatex-4-pages.pdf", "GeoTopo-komprimiert.pdf", "multicolumn.pdf"}) {
        const auto doc = PdfDocument::openFile(testsupport::corpusPath(name));
        const auto all = pageGeometries(*doc);
        ASSERT_EQ(int(all.size()), doc->pageCount()) << name;
        for (int i = 0; i < doc->pageCount(); ++i) {
            ASSERT_TRUE(all[i]) << name << " page " << i;
            const PdfPageGeometry one = doc->pageGeometry(i);
            EXPECT_EQ(all[i]->mediaBox, one.mediaBox) << name << " page " << i;
            EXPECT_EQ(all[i]->cropBox, one.cropBox);
            EXPECT_EQ(all[i]->rotation, one.rotation);
            EXPECT_EQ(all[i]->displaySize, one.displaySize);
            const PdfPoint p{17, 29};
            EXPECT_NEAR(all[i]->userToDisplay.map(p).x, one.userToDisplay.map(p).x, 1e-9);
            EXPECT_NEAR(all[i]->userToDisplay.map(p).y, one.userToDisplay.map(p).y, 1e-9);
        }
    }
}

TEST(PdfPageGeometriesTest, LockedDocumentHasNone)
{
    const auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    EXPECT_TRUE(pageGeometries(*doc).empty());
    ASSERT_TRUE(doc->unlock("openpassword"));
    EXPECT_EQ(pageGeometries(*doc).size(), 1u);
}
