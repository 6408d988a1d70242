// How a document window arranges itself around the pages, as a user sees it.
#include "Quarn/Markup/Inspector.h"
#include "Quarn/Viewer/Canvas.h"
#include "Quarn/Viewer/ViewerScreen.h"
#include "Quarn/Viewer/ViewerScreenHarness.h"

#include <QUndoStack> // before the view header

#include "Quarn/Viewer/QuarnPDFView.h"

#include <gtest/gtest.h>

#include <QTest>

using namespace quarn;
using namespace viewertest;
using quarnkit::QuarnDocument;

namespace {

// Where a point of page 1 stands in the window.
QPoint inWindow(ViewerScreen& screen, platform::PdfPoint point)
{
    QuarnPDFView* view = screen.canvas()->view();
    return view->viewport()->mapTo(&screen, view->convertFromPage(point, 0).toPoint());
}

} // namespace

TEST(WindowLayout, ThePageStaysUnderThePointerWhenTheInspectorComesAndGoes)
{
    const struct {
        const char* name;
        QByteArray pdf;
        QSize window;
    } cases[] = {
        {"a page narrower than the view", testsupport::makeTextPdf(3), QSize(1180, 800)},
        {"a page wider than the view", testsupport::makeTextPdf(3), QSize(900, 1400)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings settings;
        auto document = QuarnDocument::fromData(c.pdf);
        QUndoStack stack;
        auto screen = showScreen(document.get(), {}, stack, settings);
        screen->resize(c.window);
        auto* inspector = screen->findChild<InspectorPane*>();
        ASSERT_NE(inspector, nullptr);
        ASSERT_TRUE(testsupport::waitFor([&] { return screen->canvas()->view()->scaleFactor() > 0; }));
        QTest::qWait(50);
        const platform::PdfPoint word{100, 700};
        const QPoint before = inWindow(*screen, word);

        // The pen key, sent to the window: the inspector opens beside the pages.
        QTest::keyClick(screen->windowHandle(), 'p');
        ASSERT_TRUE(testsupport::waitFor([&] { return inspector->isVisible(); }));
        QTest::qWait(50);
        EXPECT_EQ(inWindow(*screen, word), before);

        // Back to the select tool: it closes, and the page is still where it was.
        QTest::keyClick(screen->windowHandle(), 'v');
        ASSERT_TRUE(testsupport::waitFor([&] { return !inspector->isVisible(); }));
        QTest::qWait(50);
        EXPECT_EQ(inWindow(*screen, word), before);
    }
}
