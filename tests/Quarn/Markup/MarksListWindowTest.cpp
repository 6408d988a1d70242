// The marks list in a document window whose PDF opens locked.
#include "Platform/PdfAnnotations.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Markup/MarksList.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/StateMessages.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "../Viewer/ViewerScreenHarness.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTreeWidget>

using namespace quarn;

TEST(MarksListWindow, UnlockingAPdfWithMarksListsThem)
{
    // A password-protected PDF with two marks on its page.
    auto marked = quarnkit::QuarnDocument::open(viewertest::corpus("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(marked->unlock(QStringLiteral("openpassword")));
    for (double y : {300.0, 500.0}) {
        const auto box = quarnkit::AnnotationFactory::rectangle({100, y}, {200, y + 50}, quarnkit::RGBA{1, 0, 0, 1}, 2, false);
        platform::PdfAnnotations::add(*marked->pdf(), 0, *box);
    }
    auto document = quarnkit::QuarnDocument::fromData(marked->snapshot());
    ASSERT_TRUE(document->isLocked());

    viewertest::Settings settings;
    QUndoStack stack;
    auto screen = viewertest::showScreen(document.get(), QString(), stack, settings);
    QApplication::setActiveWindow(screen.get());
    (void)QTest::qWaitForWindowActive(screen.get());
    screen->model().setSidebar(true);
    QApplication::processEvents();
    auto* gate = screen->findChild<LockedGate*>();
    ASSERT_TRUE(gate);
    gate->field()->setFocus();
    for (const QChar c : QStringLiteral("openpassword")) QTest::keyClick(screen->windowHandle(), c.toLatin1());
    QTest::keyClick(screen->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !document->isLocked(); }, 5000));

    auto* list = screen->findChild<MarksList*>();
    ASSERT_TRUE(list);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->isVisible() && list->summary().contains(QLatin1String("2")); }, 5000))
        << list->summary().toStdString();
    int rows = 0;
    for (QTreeWidgetItemIterator it(list->tree()); *it; ++it)
        if (MarksList::markOf(*it)) ++rows;
    EXPECT_EQ(rows, 2);
}
