// The marks list in a document window whose PDF opens locked.
#include "Platform/PdfAnnotations.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Markup/MarksList.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/StateMessages.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Shell/Design.h"
#include "../App/ViewerScreenHarness.h"
#include "../Design/UnnamedControls.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QPainter>
#include <QScrollBar>
#include <QTreeWidget>
#include <QWheelEvent>

using namespace quarn;

TEST(MarksListWindow, UnlockingAPdfWithMarksListsThem)
{
    // A password-protected PDF with two marks on its page.
    auto marked = quarnkit::QuarnDocument::open(viewertest::corpus("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(marked->unlock(QStringLiteral("openpassword")));
    for (double y : {300.0, 500.0}) {
        const auto box =
            quarnkit::AnnotationFactory::rectangle({100, y}, {200, y + 50}, quarnkit::RGBA{1, 0, 0, 1}, 2, false);
        platform::PdfAnnotations::add(*pdfOf(*marked), 0, *box);
    }
    auto document = quarnkit::QuarnDocument::fromData(marked->snapshot());
    ASSERT_TRUE(document->isLocked());

    viewertest::Settings settings;
    auto screen = viewertest::showScreen(document.get(), QString(), settings);
    QApplication::setActiveWindow(screen.get());
    (void)QTest::qWaitForWindowActive(screen.get());
    PagesModel::of(screen->model())
        .showSidebarTab(quarnkit::SidebarTab::marks); // the marks list is the sidebar's Marks tab
    QApplication::processEvents();
    auto* gate = screen->findChild<LockedGate*>();
    ASSERT_TRUE(gate);
    gate->field()->setFocus();
    for (const QChar c : QStringLiteral("openpassword")) QTest::keyClick(screen->windowHandle(), c.toLatin1());
    QTest::keyClick(screen->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !document->isLocked(); }, 5000));

    auto* list = screen->findChild<MarksList*>();
    ASSERT_TRUE(list);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return list->isVisible() && list->summary().contains(QLatin1String("2")); }, 5000))
        << list->summary().toStdString();
    int rows = 0;
    for (QTreeWidgetItemIterator it(list->tree()); *it; ++it)
        if (MarksList::markOf(*it)) ++rows;
    EXPECT_EQ(rows, 2);
}

namespace {

// A window showing the marks list of a PDF with `perPage` rectangles on each page.
struct MarkedWindow {
    viewertest::Settings settings;
    quarnkit::QuarnDocument document;
    std::unique_ptr<ViewerScreen> screen;
    MarksList* list = nullptr;

    MarkedWindow(int pages, int perPage) : document(platform::PdfDocument::openBytes(testsupport::makeTextPdf(pages)))
    {
        for (int page = 0; page < pages; ++page)
            for (int i = 0; i < perPage; ++i) platform::PdfAnnotations::add(*pdfOf(document), page, *box(i));
        screen = viewertest::showScreen(&document, QString(), settings);
        QApplication::setActiveWindow(screen.get());
        (void)QTest::qWaitForWindowActive(screen.get());
        showList();
    }
    static std::optional<platform::PdfAnnotation> box(int i)
    {
        const double y = 700 - i * 50;
        return quarnkit::AnnotationFactory::rectangle({100, y}, {180, y + 30}, quarnkit::RGBA{1, 0, 0, 1}, 2, false);
    }
    void showList()
    {
        PagesModel::of(screen->model()).showSidebarTab(quarnkit::SidebarTab::marks);
        // The list of a tab shown before may linger, hidden, until it is deleted.
        ASSERT_TRUE(testsupport::waitFor([&] {
            for (MarksList* shown : screen->findChildren<MarksList*>())
                if (shown->isVisible()) list = shown;
            return list && list->isVisible() && list->loaded() && !list->reading();
        }));
    }
    QTreeWidget* tree() const { return list->tree(); }
    QWidget* port() const { return list->tree()->viewport(); }
    QTreeWidgetItem* row(int group, int index) const { return tree()->topLevelItem(group)->child(index); }
    QRect rect(QTreeWidgetItem* item) const { return tree()->visualItemRect(item); }
    QuarnPDFView& view() { return *screen->model().pdfView(); }
    // The row is lit with the accent's band, not merely hovered.
    bool lit(QTreeWidgetItem* item) const
    {
        QColor accent = quarnkit::Design::accent();
        accent.setAlphaF(0.16f);
        QImage band(1, 1, QImage::Format_RGB32);
        band.fill(quarnkit::Design::chrome());
        QPainter(&band).fillRect(band.rect(), accent);
        const QColor shown = port()->grab().toImage().pixelColor(10, rect(item).center().y());
        return distance(shown, band.pixelColor(0, 0)) <= 6;
    }
    static int distance(const QColor& a, const QColor& b)
    {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
    }
};

// Where, inside an image of a header, anything but its background is drawn.
QRect inked(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (MarkedWindow::distance(image.pixelColor(x, y), quarnkit::Design::chrome()) > 30)
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

TEST(MarksListWindow, PageHeadersStayPinnedWhileTheirRowsScrollUnderThem)
{
    MarkedWindow w(3, 12);
    const int h = w.rect(w.tree()->topLevelItem(0)).height();
    const QImage header = w.port()->grab().toImage().copy(0, 0, w.port()->width(), h);
    // "Page 1" and its count stand 14 in from the sides, 10 below the top, 4 above the bottom.
    const QRect ink = inked(header);
    EXPECT_TRUE(header.rect().marginsRemoved(QMargins(14, 10, 14, 4)).contains(ink));
    EXPECT_LE(ink.left(), 16);
    EXPECT_GE(ink.right(), header.width() - 17);
    EXPECT_FALSE(w.list->pinnedHeader()->isVisible());

    // The wheel scrolls page 1's rows under the list's top edge.
    while (w.rect(w.tree()->topLevelItem(0)).top() >= 0) {
        const QPointF at(w.port()->width() / 2, w.port()->height() / 2);
        QWheelEvent wheel(at, w.port()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(w.port(), &wheel);
    }
    const QTreeWidgetItem* under = w.tree()->itemAt(w.port()->width() / 2, h + 1);
    ASSERT_TRUE(under && under->parent() == w.tree()->topLevelItem(0)) << "half-way through page 1's rows";
    QWidget* pinned = w.list->pinnedHeader();
    EXPECT_TRUE(pinned->isVisible());
    EXPECT_EQ(pinned->geometry(), QRect(0, 0, w.port()->width(), h));
    EXPECT_EQ(w.port()->grab().toImage().copy(0, 0, w.port()->width(), h), header) << "drawn over the rows";
    // A click on it reaches no row under it.
    QTest::mouseClick(pinned, Qt::LeftButton, {}, QPoint(60, h / 2));
    EXPECT_FALSE(MarkEditor::of(w.view()).selected());

    // Page 2's header pushes it up on its way to the top.
    QScrollBar* bar = w.tree()->verticalScrollBar();
    bar->setValue(bar->value() + w.rect(w.tree()->topLevelItem(1)).top() - h / 2);
    EXPECT_EQ(pinned->y(), w.rect(w.tree()->topLevelItem(1)).top() - h);
    EXPECT_LT(pinned->y(), 0);

    // A mark selected on the page brings its row into view below the pinned header.
    MarkEditor::of(w.view()).select(MarksList::markOf(w.row(0, 0)));
    EXPECT_GE(w.rect(w.row(0, 0)).top(), h);
    EXPECT_TRUE(w.lit(w.row(0, 0)));
}

TEST(MarksListWindow, TheLitRowFollowsTheMarkSelectedOnThePage)
{
    MarkedWindow w(1, 3);
    QTest::mouseClick(w.port(), Qt::LeftButton, {}, w.rect(w.row(0, 0)).center());
    ASSERT_TRUE(MarkEditor::of(w.view()).selected());
    EXPECT_TRUE(w.lit(w.row(0, 0)));

    // A click on another mark on the page moves the light, though the list lost the focus.
    const QPointF edge = w.view().placement().convertFromPage(platform::PdfPoint{100, 650 + 15}, 0);
    QTest::mouseClick(w.view().viewport(), Qt::LeftButton, {}, edge.toPoint());
    ASSERT_TRUE(MarkEditor::of(w.view()).selected());
    EXPECT_EQ(MarksList::markOf(w.row(0, 1)), MarkEditor::of(w.view()).selected());
    EXPECT_FALSE(w.tree()->hasFocus());
    EXPECT_FALSE(w.lit(w.row(0, 0)));
    EXPECT_TRUE(w.lit(w.row(0, 1)));

    // The list made again when its tab comes back lights the same row.
    PagesModel::of(w.screen->model()).showSidebarTab(quarnkit::SidebarTab::pages);
    QApplication::processEvents();
    w.showList();
    EXPECT_TRUE(w.lit(w.row(0, 1)));
    EXPECT_FALSE(w.lit(w.row(0, 2)));
}

// A screen reader finds the list by its name, each page's header as a heading
// and each mark as a button named by its kind and page, and no column header:
// the list shows none. A row's actions show the mark and delete it.
TEST(MarksListWindow, ScreenReadersFindTheNamedListWithoutAColumnHeader)
{
    MarkedWindow w(2, 2);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(w.tree());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->text(QAccessible::Name), QStringLiteral("Marks"));
    QStringList names;
    for (int i = 0; i < list->childCount(); ++i) {
        QAccessibleInterface* child = list->child(i);
        ASSERT_TRUE(child);
        EXPECT_NE(child->role(), QAccessible::ColumnHeader) << child->text(QAccessible::Name).toStdString();
        names << QStringLiteral("%1 %2").arg(child->role() == QAccessible::Heading ? "#" : "-",
                                             child->text(QAccessible::Name));
    }
    EXPECT_EQ(names, QStringList({"# Page 1", "- Rectangle, page 1", "- Rectangle, page 1", "# Page 2",
                                  "- Rectangle, page 2", "- Rectangle, page 2"}));
    EXPECT_EQ(accessibletest::unnamedControls(w.tree()), QStringList());

    QAccessibleInterface* row = list->child(4);
    ASSERT_TRUE(row->actionInterface());
    row->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(MarkEditor::of(w.view()).selected(), MarksList::markOf(w.row(1, 0)));
    row->actionInterface()->doAction(QStringLiteral("Delete"));
    ASSERT_TRUE(testsupport::waitFor([&] { return w.tree()->topLevelItem(1)->childCount() == 1; }));
    EXPECT_EQ(platform::PdfAnnotations::list(*pdfOf(w.document), 1).size(), 1u);
}

// Up and Down, sent to the window, choose the mark of the row they light, as
// a click would: the page and the inspector take that mark. Shift with them
// gathers rows for deleting and leaves the chosen mark where it was.
TEST(MarksListWindow, TheArrowsChooseTheMarkOfTheRowTheyLight)
{
    MarkedWindow w(2, 2);
    QTest::mouseClick(w.port(), Qt::LeftButton, {}, w.rect(w.row(0, 0)).center());
    ASSERT_EQ(MarkEditor::of(w.view()).selected(), MarksList::markOf(w.row(0, 0)));
    ASSERT_TRUE(w.tree()->hasFocus());
    QWindow* keys = w.screen->windowHandle();
    MarkupModel& marks = MarkupModel::of(w.screen->model());

    QTest::keyClick(keys, Qt::Key_Down);
    EXPECT_EQ(MarkEditor::of(w.view()).selected(), MarksList::markOf(w.row(0, 1)));
    EXPECT_EQ(marks.selectedMark(), MarksList::markOf(w.row(0, 1)));
    EXPECT_TRUE(w.lit(w.row(0, 1)));
    EXPECT_FALSE(w.lit(w.row(0, 0)));
    EXPECT_TRUE(w.tree()->hasFocus()); // the keys stay on the list

    QTest::keyClick(keys, Qt::Key_Down); // past page 2's header
    EXPECT_EQ(marks.selectedMark(), MarksList::markOf(w.row(1, 0)));
    QTest::keyClick(keys, Qt::Key_Up);
    EXPECT_EQ(marks.selectedMark(), MarksList::markOf(w.row(0, 1)));

    QTest::keyClick(keys, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(marks.selectedMark(), MarksList::markOf(w.row(0, 1)));
    EXPECT_EQ(w.tree()->selectedItems().size(), 2);
}

// The keys stay in the list as marks are deleted by Delete: on the row now in
// the deleted one's place, the one before it when the last went.
TEST(MarksListWindow, AfterADeleteTheKeysGoOnInTheList)
{
    MarkedWindow w(1, 3);
    const std::optional<MarkRef> rows[] = {MarksList::markOf(w.row(0, 2)), MarksList::markOf(w.row(0, 0))};
    QTest::mouseClick(w.port(), Qt::LeftButton, {}, w.rect(w.row(0, 1)).center());
    for (int left = 2; const auto& keysOn : rows) {
        QTest::keyClick(w.screen->windowHandle(), Qt::Key_Delete);
        ASSERT_TRUE(testsupport::waitFor([&] { return int(w.list->groups()[0].entries.size()) == left; }));
        --left;
        QCoreApplication::processEvents();
        EXPECT_TRUE(w.tree()->hasFocus());
        EXPECT_EQ(MarksList::markOf(w.tree()->currentItem()), keysOn);
        QAccessibleInterface* focused = QAccessible::queryAccessibleInterface(w.tree())->focusChild();
        EXPECT_TRUE(focused && focused->state().focused);
    }
}
