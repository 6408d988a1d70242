// The keyboard focus ring of a document window, as a user meets it: Tab
// pressed in the window, the window's pixels read back.
#include "Quarn/Design/FlatField.h"
#include "Quarn/Design/FocusRing.h"
#include "Quarn/App/PageViewHost.h"
#include "QuarnKit/Shell/Design.h"
#include "Quarn/App/ViewerScreenHarness.h"

#include <QUndoStack> // before the view header

#include "Quarn/Viewer/QuarnPDFView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <set>

using namespace quarn;
using namespace viewertest;

namespace {

bool isAccent(QRgb pixel)
{
    const QColor accent = quarnkit::Design::accent();
    return std::abs(qRed(pixel) - accent.red()) < 24 && std::abs(qGreen(pixel) - accent.green()) < 24
           && std::abs(qBlue(pixel) - accent.blue()) < 24;
}

// How many of the pixels on the line just outside `control` (a ring's
// middle) are in the accent colour, out of the points sampled along its four sides.
int accentAround(const QImage& window, const QRect& control, int offset)
{
    const QRect r = control.adjusted(-offset, -offset, offset, offset);
    int hits = 0;
    for (double f : {0.3, 0.5, 0.7}) {
        const int x = r.left() + int(r.width() * f), y = r.top() + int(r.height() * f);
        for (const QPoint p : {QPoint(x, r.top()), QPoint(x, r.bottom()), QPoint(r.left(), y), QPoint(r.right(), y)})
            hits += window.rect().contains(p) && isAccent(window.pixel(p));
    }
    return hits;
}

} // namespace

TEST(FocusRing, TabOutlinesEachControlInTheAccentColourUntilAClick)
{
    focusring::install();
    Settings settings;
    auto document = quarnkit::QuarnDocument::fromData(testsupport::makeTextPdf(3));
    auto screen = showScreen(document.get(), {}, settings);
    QApplication::setActiveWindow(screen.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(screen.get()));
    ASSERT_TRUE(testsupport::waitFor([&] { return screen->model().isReading(); }));

    std::set<QWidget*> reached;
    QImage previous = screen->grab().toImage();
    for (int press = 0; press < 6; ++press) {
        SCOPED_TRACE(press);
        QTest::keyClick(screen->windowHandle(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        reached.insert(focus);
        // A flat field outlines itself; every other control gets the ring.
        const bool ownOutline = qobject_cast<FlatField*>(focus) != nullptr;
        ASSERT_TRUE(testsupport::waitFor([&] { return focusring::target() == (ownOutline ? nullptr : focus); }));
        QApplication::processEvents();
        const QImage now = screen->grab().toImage();
        const QRect control(focus->mapTo(screen.get(), QPoint(0, 0)), focus->size());
        EXPECT_GE(ownOutline ? accentAround(now, control, 0) : accentAround(now, control, 2), 10)
            << focus->metaObject()->className();
        EXPECT_NE(now, previous); // the focus that moved can be seen
        previous = now;
    }
    EXPECT_GE(reached.size(), 3u);

    // A click on the pages: the focus goes there by the mouse, and no ring shows.
    QuarnPDFView* view = screen->pageViewHost()->view();
    QTest::mouseClick(screen->windowHandle(), Qt::LeftButton, {},
                      view->viewport()->mapTo(screen.get(), view->viewport()->rect().center()));
    ASSERT_TRUE(testsupport::waitFor([&] { return focusring::target() == nullptr; }));
    QApplication::processEvents();
    const QRect pages(view->mapTo(screen.get(), QPoint(0, 0)), view->size());
    EXPECT_EQ(accentAround(screen->grab().toImage(), pages, 2), 0);
}
