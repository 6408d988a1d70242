// The document toolbar items: Share hands over its button, Document Info
// toggles only for an unlocked document with pages.
#include "Platform/UserDefaults.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Viewer/ToolbarItems.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quarn;

namespace {

struct ItemsFixture {
    QTemporaryDir folder;
    platform::UserDefaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    quarnkit::ReadingPositionStore positions{defaults};
    ViewerModel model{&defaults, &positions};
    DocumentToolbarItems items{&model};
};

} // namespace

TEST(DocumentToolbarItemsTest, ShareHandsOverItsButton)
{
    ItemsFixture f;
    EXPECT_EQ(f.items.shareButton()->toolTip(), QStringLiteral("Share"));
    EXPECT_FALSE(f.items.shareButton()->isChosen());
    QSignalSpy share(&f.items, &DocumentToolbarItems::shareRequested);
    QTest::mouseClick(f.items.shareButton(), Qt::LeftButton);
    ASSERT_EQ(share.count(), 1);
    EXPECT_EQ(share.at(0).at(0).value<QWidget*>(), f.items.shareButton());
}

TEST(DocumentToolbarItemsTest, DocumentInfoTogglesForADocumentWithPages)
{
    ItemsFixture f;
    auto document =
        std::make_unique<quarnkit::QuarnDocument>(platform::PdfDocument::openBytes(testsupport::makeTextPdf(2)));
    f.model.setDocument(document.get());
    EXPECT_EQ(f.items.infoButton()->toolTip(), QStringLiteral("Document info"));
    QTest::mouseClick(f.items.infoButton(), Qt::LeftButton);
    EXPECT_TRUE(f.items.infoPresented());
    EXPECT_TRUE(f.items.infoButton()->isChosen());
    QTest::mouseClick(f.items.infoButton(), Qt::LeftButton); // open: closes it
    EXPECT_FALSE(f.items.infoPresented());
    EXPECT_FALSE(f.items.infoButton()->isChosen());
}

TEST(DocumentToolbarItemsTest, DocumentInfoBeepsWithoutADocumentOrForALockedOne)
{
    ItemsFixture f;
    QSignalSpy refused(&f.items, &DocumentToolbarItems::infoRefused);
    QTest::mouseClick(f.items.infoButton(), Qt::LeftButton);
    EXPECT_FALSE(f.items.infoPresented());

    auto locked = quarnkit::QuarnDocument::open(
        QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf")));
    ASSERT_TRUE(locked->isLocked());
    f.model.setDocument(locked.get());
    QTest::mouseClick(f.items.infoButton(), Qt::LeftButton);
    EXPECT_FALSE(f.items.infoPresented());
    EXPECT_EQ(refused.count(), 2);
}
