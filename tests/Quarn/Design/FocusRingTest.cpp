// The keyboard focus ring of a document window, as a user meets it: Tab
// pressed in the window, the window's pixels read back.
#include "Quarn/Design/FlatField.h"
#include "Quarn/Design/FocusRing.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/History/LibraryRail.h"
#include "Quarn/Pages/SidebarPane.h"
#include "Quarn/Viewer/StatusBar.h"
#include "QuarnKit/Shell/Design.h"
#include "Quarn/App/ViewerScreenHarness.h"

#include <QUndoStack> // before the view header

#include "Quarn/Viewer/QuarnPDFView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

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
    // A ring at the window's edge is drawn just inside it.
    const QRect r = control.adjusted(-offset, -offset, offset, offset).intersected(window.rect());
    int hits = 0;
    for (double f : {0.3, 0.5, 0.7}) {
        const int x = r.left() + int(r.width() * f), y = r.top() + int(r.height() * f);
        for (const QPoint p : {QPoint(x, r.top()), QPoint(x, r.bottom()), QPoint(r.left(), y), QPoint(r.right(), y)})
            hits += isAccent(window.pixel(p));
    }
    return hits;
}

} // namespace

// Tab goes round the whole window in reading order, every stop outlined;
// Return and Space press the button Tab reached, and a click on a toolbar
// button leaves the keys with the pages.
TEST(FocusRing, TabGoesRoundTheWindowOutliningEachStopUntilAClick)
{
    focusring::install();
    Settings settings;
    auto document = quarnkit::QuarnDocument::fromData(testsupport::makeTextPdf(3));
    auto screen = showScreen(document.get(), {}, settings);
    QApplication::setActiveWindow(screen.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(screen.get()));
    ASSERT_TRUE(testsupport::waitFor([&] { return screen->model().isReading() && screen->filledIn(); }));
    QuarnPDFView* view = screen->pageViewHost()->view();
    ASSERT_TRUE(testsupport::waitFor([&] { return view->hasFocus(); }));
    auto* sidebar = screen->findChild<SidebarPane*>();
    ASSERT_NE(sidebar, nullptr);

    // Where each kind of stop first comes in the round.
    const auto partOf = [&](QWidget* w) -> QString {
        if (w == view) return "pages";
        if (qobject_cast<RailButton*>(w)) return "rail";
        if (sidebar->tabBar()->isAncestorOf(w)) return "sidebar tab";
        if (sidebar->isAncestorOf(w)) return "sidebar list";
        if (screen->statusBar()->isAncestorOf(w)) return "status bar";
        if (w->mapTo(screen.get(), QPoint()).y() < 48) return "toolbar";
        return w->metaObject()->className();
    };
    QStringList parts;
    QWidget* sidebarButton = nullptr;
    QImage previous = screen->grab().toImage();
    for (int press = 0; press < 60 && (parts.isEmpty() || parts.back() != "pages"); ++press) {
        SCOPED_TRACE(press);
        QTest::keyClick(screen->windowHandle(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        if (parts.isEmpty() || parts.back() != partOf(focus)) parts << partOf(focus);
        if (!sidebarButton && parts.back() == "toolbar") sidebarButton = focus;
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
    EXPECT_EQ(parts, QStringList({"status bar", "toolbar", "rail", "sidebar tab", "sidebar list", "pages"}));
    // Shift+Tab goes back the same way.
    QTest::keyClick(screen->windowHandle(), Qt::Key_Backtab);
    EXPECT_EQ(partOf(QApplication::focusWidget()), "sidebar list");

    // Return, then Space, on the first toolbar button (the sidebar's) press it.
    ASSERT_NE(sidebarButton, nullptr);
    while (QApplication::focusWidget() != sidebarButton) QTest::keyClick(screen->windowHandle(), Qt::Key_Backtab);
    QTest::keyClick(screen->windowHandle(), Qt::Key_Return);
    EXPECT_TRUE(testsupport::waitFor([&] { return !sidebar->isVisible(); }));
    QTest::keyClick(screen->windowHandle(), Qt::Key_Space);
    EXPECT_TRUE(testsupport::waitFor([&] { return sidebar->isVisible(); }));
    EXPECT_EQ(QApplication::focusWidget(), sidebarButton);

    // A click on the pages: the focus goes there by the mouse, and no ring shows.
    QTest::mouseClick(screen->windowHandle(), Qt::LeftButton, {},
                      view->viewport()->mapTo(screen.get(), view->viewport()->rect().center()));
    ASSERT_TRUE(testsupport::waitFor([&] { return focusring::target() == nullptr; }));
    QApplication::processEvents();
    const QRect pages(view->mapTo(screen.get(), QPoint(0, 0)), view->size());
    EXPECT_EQ(accentAround(screen->grab().toImage(), pages, 2), 0);
    // A click on a toolbar button acts and leaves the keys with the pages.
    QTest::mouseClick(screen->windowHandle(), Qt::LeftButton, {},
                      sidebarButton->mapTo(screen.get(), sidebarButton->rect().center()));
    EXPECT_TRUE(testsupport::waitFor([&] { return !sidebar->isVisible(); }));
    QApplication::processEvents();
    EXPECT_TRUE(view->hasFocus());
}
