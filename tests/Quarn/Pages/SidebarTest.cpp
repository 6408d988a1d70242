// The sidebar of a shown window: thumbnails arriving for the rows on show,
// rows dragged to move pages and files dropped to insert theirs (each one
// undo step), the page list's keys and selection, the tabs and their empty
// states, and the outline's highlight, chevrons and jumps.
#include "Quarn/Design/UnnamedControls.h"
#include "Quarn/Pages/OutlineList.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Pages/PageListController.h"
#include "Quarn/Pages/PageTableView.h"
#include "Quarn/Pages/SidebarPane.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/PagePlacement.h"
#include "Quarn/Viewer/PageTiles.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "../App/ViewerScreenHarness.h"

#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDrag>
#include <QFontDatabase>
#include <QListView>
#include <QMenu>
#include <QContextMenuEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include <climits>
#include <functional>
#include <map>

using namespace quarn;
using namespace viewertest;
using quarnkit::OutlinePath;
using quarnkit::SidebarTab;

namespace {

// Eight empty pages with an outline: A on page 1 (closed, with A1 on page 2),
// B and C both on page 5.
QByteArray outlinedPdf()
{
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R >>",
        "<< /Type /Pages /Kids [7 0 R 8 0 R 9 0 R 10 0 R 11 0 R 12 0 R 13 0 R 14 0 R] /Count 8 >>",
        "<< /Type /Outlines /First 4 0 R /Last 6 0 R /Count 3 >>",
        "<< /Title (A) /Parent 3 0 R /Next 5 0 R /Dest [7 0 R /Fit] /First 15 0 R /Last 15 0 R /Count -1 >>",
        "<< /Title (B) /Parent 3 0 R /Prev 4 0 R /Next 6 0 R /Dest [11 0 R /Fit] >>",
        "<< /Title (C) /Parent 3 0 R /Prev 5 0 R /Dest [11 0 R /Fit] >>",
    };
    for (int i = 0; i < 8; ++i) objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>");
    objects.push_back("<< /Title (A1) /Parent 4 0 R /Dest [8 0 R /Fit] >>");
    return testsupport::writePdf(objects);
}

struct Window {
    Settings settings;
    QTemporaryDir files;
    std::unique_ptr<quarnkit::QuarnDocument> document;
    QUndoStack& stack() { return document->undoStack(); }
    std::unique_ptr<ViewerScreen> screen;
    int opened = 0; // files the window would have opened as windows of their own

    explicit Window(const QByteArray& pdf, SidebarTab tab = SidebarTab::pages)
    {
        quarnkit::saveSidebarTab(tab, settings.defaults);
        const QString path = writeFile(files, QStringLiteral("doc.pdf"), pdf);
        document = quarnkit::QuarnDocument::open(path);
        screen = showScreen(document.get(), path, settings);
        screen->model().openFileHandler = [this](const QString&) { ++opened; };
        EXPECT_TRUE(QTest::qWaitForWindowExposed(screen.get()));
        EXPECT_TRUE(testsupport::waitFor([&] { return model().pageCount() == document->pageCount(); }));
        // Restoring the reading position gives the pages the keys: wait for it.
        EXPECT_TRUE(testsupport::waitFor([&] { return model().isReading(); }));
        // The list is made once the first page is painted.
        EXPECT_TRUE(testsupport::waitFor([&] { return screen->filledIn(); }));
    }
    ViewerModel& model() { return screen->model(); }
    SidebarPane* pane() { return screen->findChild<SidebarPane*>(); }
    PageTableView* table() { return screen->findChild<PageTableView*>(); }
    OutlineList* outline() { return screen->findChild<OutlineList*>(); }
    QuarnPDFView* view() { return screen->pageViewHost()->view(); }
    // The first words of a page of the document.
    std::string pageText(int index) { return pdfOf(*document)->textPage(index).text(); }
    QPoint rowCentre(int row) { return table()->visualRect(table()->model()->index(row, 0)).center(); }
    QPoint rowTop(int row) { return table()->visualRect(table()->model()->index(row, 0)).topLeft() + QPoint(40, 3); }
    // A point of the list in the window's coordinates, where the system delivers drags.
    QPoint inWindow(QPoint inList) { return table()->viewport()->mapTo(screen.get(), inList); }
};

// The system's drag loop, standing in for the one the offscreen platform
// lacks: it delivers a drag to the window at each pointer position as the
// system does (enter on coming in, a move at every position, the drop on
// release only when the last position took it, else a leave), and Qt's own
// window finds the widget under the pointer and keeps to the rules of the
// widgets' answers.
struct DragLoop {
    QWindow* window;
    const QMimeData* mime;
    Qt::DropActions actions = Qt::MoveAction;
    bool inside = false;
    Qt::DropAction taken = Qt::IgnoreAction;

    void moveTo(QPoint at)
    {
        if (!inside) {
            QDragEnterEvent enter(at, actions, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window, &enter);
            taken = enter.isAccepted() ? enter.dropAction() : Qt::IgnoreAction;
            inside = true;
        }
        QDragMoveEvent move(at, actions, mime, Qt::LeftButton, Qt::NoModifier);
        if (taken != Qt::IgnoreAction) {
            move.setDropAction(taken);
            move.accept();
        }
        QApplication::sendEvent(window, &move);
        taken = move.isAccepted() ? move.dropAction() : Qt::IgnoreAction;
    }
    Qt::DropAction release(QPoint at)
    {
        if (taken == Qt::IgnoreAction) {
            QDragLeaveEvent leave;
            QApplication::sendEvent(window, &leave);
            return Qt::IgnoreAction;
        }
        QDropEvent drop(QPointF(at), actions, mime, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
        return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    }
};

QMimeData* filesMime(const QStringList& paths)
{
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    mime->setUrls(urls);
    return mime;
}

} // namespace

TEST(Sidebar, SitsUnderTheToolbarAtItsWidthAndFollowsTheSidebarFlag)
{
    Window w(testsupport::makeTextPdf(3));
    SidebarPane* pane = w.pane();
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->width(), SidebarPane::columnWidth);
    EXPECT_GE(pane->mapTo(w.screen.get(), QPoint()).y(), 48); // below the toolbar
    w.screen->resize(1400, 800);
    QApplication::processEvents();
    EXPECT_EQ(pane->width(), SidebarPane::columnWidth);
    PagesModel::of(w.model()).setSidebar(false);
    EXPECT_FALSE(pane->isVisible());
    PagesModel::of(w.model()).showSidebarTab(SidebarTab::outline);
    EXPECT_TRUE(pane->isVisible());
    EXPECT_NE(w.outline(), nullptr);
}

TEST(Sidebar, ThumbnailsArriveForTheRowsOnShowAndAMarkRendersItsPageAgainOnly)
{
    Window w(testsupport::makeTextPdf(6));
    ThumbnailStore& store = PagesModel::of(w.model()).thumbnails();
    const auto pages = platform::pageIds(*pdfOf(*w.document));
    ASSERT_TRUE(testsupport::waitFor([&] { return !store.image(pages[0]).isNull() && store.idle(); }));
    // The thumbnail is the page: dark text on white, as exported.
    const QImage first = store.image(pages[0]);
    EXPECT_EQ(first.size(), QSize(116, 150)); // a US Letter page at the offscreen scale of 1
    EXPECT_EQ(first.pixelColor(2, 2), QColor(Qt::white));
    bool ink = false;
    for (int y = 0; y < first.height() && !ink; ++y)
        for (int x = 0; x < first.width() && !ink; ++x) ink = first.pixelColor(x, y).lightness() < 128;
    EXPECT_TRUE(ink);

    int renders = 0;
    // The new thumbnail fades in over the one it replaces.
    const QModelIndex row = w.table()->model()->index(1, 0);
    double fadedAtArrival = -1;
    QImage fadingFrom;
    QObject::connect(&store, &ThumbnailStore::renderFinished, [&] {
        ++renders;
        fadedAtArrival = row.data(pageFadeRole).toDouble();
        fadingFrom = row.data(pageFadeFromRole).value<QImage>();
    });
    platform::PdfAnnotation square;
    square.subtype = "Square";
    square.rect = {0, 0, 612, 792};
    square.interiorColor = platform::PdfColor{0, 0, 0};
    platform::PdfAnnotations::add(*pdfOf(*w.document), 1, square);
    w.document->noteEditOfPage(1);
    ASSERT_TRUE(testsupport::waitFor([&] { return renders >= 1 && store.idle(); }));
    QTest::qWait(50); // that no second render comes is the point: it would have by now
    EXPECT_EQ(renders, 1);
    EXPECT_LT(store.image(pages[1]).pixelColor(58, 75).lightness(), 30); // the black mark shows
    EXPECT_LT(fadedAtArrival, 0.5);
    EXPECT_EQ(fadingFrom.pixelColor(58, 75), QColor(Qt::white)); // the page as it was
    EXPECT_TRUE(testsupport::waitFor([&] { return row.data(pageFadeRole).toDouble() == 1.0; }));
}

TEST(Sidebar, ALongFileListsItsRowsAtOnceAndKeepsThePageOnScreenWhenEveryPageIsRead)
{
    // 1,200 pages: the first twenty letter-sized, the rest A4. Every page is
    // read on a worker a moment after opening; until then page 1's size
    // stands in for the rest.
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    for (int i = 0; i < 1200; ++i) {
        kids += std::to_string(3 + i) + " 0 R ";
        objects.push_back(std::string("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ") + (i < 20 ? "612 792" : "595 842")
                          + "] >>");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count 1200 >>";
    Settings settings;
    quarnkit::saveSidebarTab(SidebarTab::pages, settings.defaults);
    QTemporaryDir files;
    const QString path = writeFile(files, QStringLiteral("long.pdf"), testsupport::writePdf(objects));
    auto document = quarnkit::QuarnDocument::open(path);
    ASSERT_FALSE(document->pageMapReady());
    document->holdPageMap(); // however slow the first screen, the pages are read after it
    bool read = false;
    QObject::connect(document.get(), &quarnkit::QuarnDocument::pageMapBuilt, [&] { read = true; });
    auto screen = showScreen(document.get(), path, settings);
    ASSERT_TRUE(testsupport::waitFor([&] { return screen->filledIn(); }));
    auto* table = screen->findChild<PageTableView*>();
    ASSERT_TRUE(table);
    // Every row is there before the pages are read, and the first rows' thumbnails come.
    EXPECT_EQ(table->model()->rowCount(), 1200);
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return !table->model()->index(0, 0).data(pageImageRole).value<QImage>().isNull(); }));
    QuarnPDFView* view = screen->pageViewHost()->view();
    ASSERT_TRUE(testsupport::waitFor([&] { return view->tiles().visibleReady(); }));
    const double scale = view->scaleFactor();
    const QRectF page = view->placement().pageRect(view->currentPageIndex());
    const int current = view->currentPageIndex();
    // At the moment the pages are known, and after: the page on screen keeps
    // its place, its scale and its painted tiles (no blank redraw).
    bool keptTiles = false;
    QObject::connect(document.get(), &quarnkit::QuarnDocument::pageMapBuilt, view,
                     [&] { keptTiles = view->tiles().visibleReady(); });
    EXPECT_FALSE(read);
    document->releasePageMap();
    ASSERT_TRUE(testsupport::waitFor([&] { return read; }));
    QApplication::processEvents();
    EXPECT_TRUE(keptTiles);
    EXPECT_TRUE(view->tiles().visibleReady());
    EXPECT_EQ(view->currentPageIndex(), current);
    EXPECT_DOUBLE_EQ(view->scaleFactor(), scale);
    EXPECT_EQ(view->placement().pageRect(current), page);
    // The list's rows now carry their own pages' sizes: an A4 row is narrower than a letter one.
    const QSize letter = table->model()->index(0, 0).data(Qt::SizeHintRole).toSize();
    const QSize a4 = table->model()->index(1100, 0).data(Qt::SizeHintRole).toSize();
    EXPECT_LT(a4.width(), letter.width());
    EXPECT_EQ(table->model()->rowCount(), 1200);
}

TEST(Sidebar, DraggingAThumbnailMovesItsPageWhereTheBarShows)
{
    Window w(testsupport::makeTextPdf(5));
    PageTableView* table = w.table();
    ASSERT_NE(table, nullptr);
    QWidget* port = table->viewport();
    // The bar's middle, read from the list as drawn.
    const auto barShown = [&] {
        if (!table->indicator()->isVisible()) return false;
        const QPoint middle = table->indicator()->geometry().center();
        const QColor drawn = port->grab().toImage().pixelColor(middle);
        const QColor accent = quarnkit::Design::accent();
        return std::abs(drawn.red() - accent.red()) < 8 && std::abs(drawn.green() - accent.green()) < 8
               && std::abs(drawn.blue() - accent.blue()) < 8;
    };
    const int before = w.stack().count();
    bool barOverOwnGap = true, barAtTop = false, barAtTopWhere = false;
    Qt::DropAction dropped = Qt::IgnoreAction;
    table->runDrag = [&](QDrag* drag) {
        // The drag comes in where it began, over its own gap, where no drop can be made.
        DragLoop loop{w.screen->windowHandle(), drag->mimeData()};
        loop.moveTo(w.inWindow(w.rowCentre(2) + QPoint(0, 8)));
        barOverOwnGap = table->indicator()->isVisible();
        loop.moveTo(w.inWindow(w.rowTop(0)));
        barAtTop = barShown();
        barAtTopWhere =
            std::abs(table->indicator()->geometry().center().y() - table->visualRect(table->model()->index(0, 0)).top())
            <= 2;
        loop.moveTo(w.inWindow(w.rowCentre(2) - QPoint(0, 8)));
        barOverOwnGap = barOverOwnGap || table->indicator()->isVisible();
        loop.moveTo(w.inWindow(w.rowTop(0) + QPoint(0, 2)));
        dropped = loop.release(w.inWindow(w.rowTop(0) + QPoint(0, 2)));
        return dropped;
    };
    const QPoint start = w.rowCentre(2);
    QTest::mousePress(port, Qt::LeftButton, {}, start);
    QTest::mouseMove(port, start + QPoint(0, 4));
    QTest::mouseMove(port, start + QPoint(0, 8 + QApplication::startDragDistance()));
    QTest::mouseRelease(port, Qt::LeftButton, {}, start + QPoint(0, 8));

    EXPECT_FALSE(barOverOwnGap);
    EXPECT_TRUE(barAtTop);
    EXPECT_TRUE(barAtTopWhere);
    ASSERT_EQ(dropped, Qt::MoveAction);
    EXPECT_EQ(w.stack().count(), before + 1);
    EXPECT_EQ(w.stack().undoText(), QStringLiteral("Move Page"));
    EXPECT_NE(w.pageText(0).find("Page 3"), std::string::npos);
    EXPECT_NE(w.pageText(1).find("Page 1"), std::string::npos);
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), std::set<int>{0});
    EXPECT_EQ(table->selectionModel()->selectedRows().size(), 1);
    EXPECT_FALSE(table->indicator()->isVisible());

    w.stack().undo();
    EXPECT_NE(w.pageText(0).find("Page 1"), std::string::npos);
    EXPECT_NE(w.pageText(2).find("Page 3"), std::string::npos);
}

TEST(Sidebar, ADropThatLeavesTheOrderAsItIsIsRefused)
{
    Window w(testsupport::makeTextPdf(5));
    PageListController* controller = w.screen->findChild<PageListController*>();
    ASSERT_NE(controller, nullptr);
    const int before = w.stack().count();
    std::unique_ptr<QMimeData> mime(controller->dragData({1, 2}));
    controller->dragStarted({1, 2});
    const struct {
        QPoint at;
        bool taken;
    } cases[] = {
        {w.rowTop(1), false},                    // gap 1: directly above row 2
        {w.rowCentre(2) + QPoint(0, 10), false}, // gap 3: between them
        {w.rowTop(0), true},                     // gap 0: to the top
    };
    for (const auto& c : cases) {
        DragLoop loop{w.screen->windowHandle(), mime.get()};
        loop.moveTo(w.inWindow(c.at));
        EXPECT_EQ(loop.taken == Qt::MoveAction, c.taken) << c.at.y();
        EXPECT_EQ(w.table()->indicator()->isVisibleTo(w.table()), c.taken);
        if (c.taken) {
            QDragLeaveEvent leave;
            QApplication::sendEvent(w.screen->windowHandle(), &leave);
        } else {
            EXPECT_EQ(loop.release(c.at), Qt::IgnoreAction);
        }
    }
    controller->dragEnded();
    EXPECT_EQ(w.stack().count(), before);
    EXPECT_EQ(controller->dropGap(w.rowCentre(4) + QPoint(0, 5)), 5);
    EXPECT_EQ(controller->dropGap(w.rowCentre(4) - QPoint(0, 5)), 4);
}

TEST(Sidebar, DroppingAPdfFileIntoTheListInsertsItsPages)
{
    Window w(testsupport::makeTextPdf(3));
    const QString other = corpus("pdflatex-4-pages.pdf");
    const auto source = platform::PdfDocument::openFile(other.toStdString());
    const int before = w.stack().count();

    // The list refuses text files alone (the window under it then opens no PDF either).
    const QString text = writeFile(w.files, QStringLiteral("notes.txt"), "hello");
    std::unique_ptr<QMimeData> refused(filesMime({text}));
    PageListController* controller = w.screen->findChild<PageListController*>();
    EXPECT_EQ(controller->validateDrop(refused.get(), w.rowCentre(0)), Qt::IgnoreAction);
    DragLoop refusal{w.screen->windowHandle(), refused.get(), Qt::CopyAction};
    refusal.moveTo(w.inWindow(w.rowCentre(0)));
    refusal.release(w.inWindow(w.rowCentre(0)));
    QTest::qWait(20); // that nothing opens is the point: it would have by now
    EXPECT_EQ(w.document->pageCount(), 3);
    EXPECT_EQ(w.stack().count(), before);

    std::unique_ptr<QMimeData> mime(filesMime({other}));
    // The lower half of row 1: the pages go in after page 1.
    DragLoop drop{w.screen->windowHandle(), mime.get(), Qt::CopyAction};
    drop.moveTo(w.inWindow(w.rowCentre(0) + QPoint(0, 10)));
    EXPECT_EQ(drop.release(w.inWindow(w.rowCentre(0) + QPoint(0, 10))), Qt::CopyAction);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.document->pageCount() == 7; }));
    EXPECT_EQ(w.stack().count(), before + 1);
    EXPECT_EQ(w.stack().undoText(), QStringLiteral("Insert 4 Pages"));
    EXPECT_EQ(w.pageText(1), source->textPage(0).text());
    EXPECT_NE(w.pageText(5).find("Page 2"), std::string::npos);
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{1, 2, 3, 4}));
    ASSERT_TRUE(testsupport::waitFor([&] { return w.table()->model()->rowCount() == 7; }));
    EXPECT_EQ(w.opened, 0); // taken by the list, not opened as a window
}

TEST(Sidebar, KeysOfThePageList)
{
    Window w(testsupport::makeTextPdf(4));
    PageTableView* table = w.table();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, w.rowCentre(1));
    ASSERT_EQ(PagesModel::of(w.model()).selectedPages(), std::set<int>{1});
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 1; }));
    EXPECT_TRUE(table->hasFocus()); // the page shown, the list keeps the keys

    // Escape clears the selection and does nothing else.
    QTest::keyClick(w.screen->window()->windowHandle(), Qt::Key_Escape);
    EXPECT_TRUE(PagesModel::of(w.model()).selectedPages().empty());
    EXPECT_EQ(w.document->pageCount(), 4);

    // Delete with Ctrl is not the page list's; plain Delete removes the selected page.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, w.rowCentre(2));
    QTest::keyClick(w.screen->window()->windowHandle(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(w.document->pageCount(), 4);
    QTest::keyClick(w.screen->window()->windowHandle(), Qt::Key_Delete);
    EXPECT_EQ(w.document->pageCount(), 3);
    EXPECT_EQ(w.stack().undoText(), QStringLiteral("Delete Page"));
    EXPECT_NE(w.pageText(2).find("Page 4"), std::string::npos);
    ASSERT_TRUE(testsupport::waitFor([&] { return table->model()->rowCount() == 3; }));
}

// After Delete the keyboard goes on from the page highlighted in the deleted
// one's place: the list's current row is that page's, Down goes to the page
// after it, and Qt has nothing to warn about.
TEST(Sidebar, AfterADeleteTheKeysGoOnFromTheHighlightedPage)
{
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            // The offscreen platform's own complaint about window hints is no fault of the list.
            if (type != QtDebugMsg && type != QtInfoMsg && !text.contains("propagateSizeHints")) warnings << text;
        });
    Window w(testsupport::makeTextPdf(5));
    PageTableView* table = w.table();
    QWindow* window = w.screen->window()->windowHandle();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, w.rowCentre(1));
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 1; }));
    QTest::keyClick(window, Qt::Key_Delete);
    ASSERT_EQ(w.document->pageCount(), 4);
    ASSERT_TRUE(testsupport::waitFor([&] { return table->model()->rowCount() == 4; }));
    QApplication::processEvents();
    // Page 3 now shows in the deleted page's row; the keys start there.
    EXPECT_EQ(w.model().pageIndex(), 1);
    EXPECT_NE(w.pageText(1).find("Page 3"), std::string::npos);
    EXPECT_EQ(table->currentIndex().row(), 1);
    QTest::keyClick(window, Qt::Key_Down);
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), std::set<int>{2});
    EXPECT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 2; }));
    EXPECT_NE(w.pageText(2).find("Page 4"), std::string::npos);
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings, QStringList());
}

// Right-clicks the list at `at` (in its viewport), as the window system
// reports a right click; the menu that opens.
QMenu* openMenu(PageTableView* table, QPoint at)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table->viewport(), &event);
    QMenu* menu = nullptr;
    testsupport::waitFor([&] { return (menu = table->findChild<QMenu*>()) && menu->isVisible(); });
    return menu;
}

QAction* item(QMenu* menu, const QString& title)
{
    for (QAction* action : menu->actions())
        if (action->text() == title) return action;
    return nullptr;
}

TEST(Sidebar, TheThumbnailMenusInsertIntoAListWithoutPagesAndShowTheListsDeleteKey)
{
    // A document without pages, in a list of its own (the window shows a message instead).
    ViewerModel model;
    auto empty = std::make_unique<quarnkit::QuarnDocument>(platform::PdfDocument::createEmpty());
    model.setDocument(empty.get());
    QWidget host;
    auto* list = new PageListController(&model, empty.get(), &host);
    list->table()->resize(200, 400);
    host.show();
    QMenu* below = openMenu(list->table(), {60, 60});
    ASSERT_TRUE(below);
    QAction* insert = item(below, "Insert Blank Page");
    ASSERT_TRUE(insert && item(below, "Insert Pages from File…"));
    QTest::mouseClick(below->windowHandle(), Qt::LeftButton, {}, below->actionGeometry(insert).center());
    EXPECT_EQ(empty->pageCount(), 1);
    EXPECT_EQ(pdfOf(*empty)->pageGeometry(0).displaySize, (platform::PdfSize{612, 792}));

    // A row's menu shows the key the list deletes pages with.
    Window w(testsupport::makeTextPdf(3));
    QMenu* menu = openMenu(w.table(), w.rowCentre(1));
    ASSERT_TRUE(menu);
    QAction* remove = item(menu, "Delete Page");
    ASSERT_TRUE(remove);
    EXPECT_EQ(accessibletest::focusedMenuItems(menu), QStringList()); // a right-click's: none
    EXPECT_EQ(remove->shortcut(), quarnkit::KeyboardShortcuts::menuKey(quarnkit::ShortcutCommand::deletePages));
    menu->close();
}

// A right-click, as the window system sends it (the press, the menu, the
// release), on a row outside the selection chooses that row alone for its
// menu; on a selected row it keeps the selection. The pages stay where they
// were either way.
TEST(Sidebar, ARightClickChoosesItsRowForTheMenuAndLeavesThePagesWhereTheyAre)
{
    Window w(testsupport::makeTextPdf(6));
    const struct {
        std::set<int> before;
        int clicked;
        std::set<int> after;
    } rows[] = {{{}, 2, {2}}, {{2}, 1, {1}}, {{1, 2}, 2, {1, 2}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.clicked);
        PagesModel::of(w.model()).setSelectedPages(row.before);
        const QPoint at = w.inWindow(w.rowCentre(row.clicked));
        QTest::mousePress(w.screen->windowHandle(), Qt::RightButton, {}, at);
        QMenu* menu = w.table()->findChild<QMenu*>();
        ASSERT_TRUE(menu && menu->isVisible());
        QTest::mouseRelease(w.screen->windowHandle(), Qt::RightButton, {}, at);
        EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), row.after);
        EXPECT_TRUE(item(menu, row.after.size() == 1 ? "Delete Page" : "Delete 2 Pages"));
        const QPointer<QMenu> shown(menu);
        menu->close();
        ASSERT_TRUE(testsupport::waitFor([&] { return !shown; })); // a page change asked for would have come by now
        EXPECT_EQ(w.model().pageIndex(), 0);
        EXPECT_EQ(w.view()->currentPageIndex(), 0);
    }
}

TEST(Sidebar, TheSelectionFollowsTheModelAndAPageElsewhereClearsIt)
{
    Window w(testsupport::makeTextPdf(8));
    PagesModel::of(w.model()).setSelectedPages({3, 4});
    EXPECT_EQ(w.table()->selectionModel()->selectedRows().size(), 2);

    // One row clicked shows its page; a second one added with Ctrl shows its
    // page too, and the selection of both stays.
    QTest::mouseClick(w.table()->viewport(), Qt::LeftButton, {}, w.rowCentre(1));
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 1; }));
    QTest::mouseClick(w.table()->viewport(), Qt::LeftButton, Qt::ControlModifier, w.rowCentre(2));
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 2; }));
    QTest::qWait(50); // that the selection stays is the point: the page change would have cleared it by now
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{1, 2}));

    // A page reached by other means, outside the selection, clears it.
    w.view()->goToPage(6);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 6; }));
    EXPECT_TRUE(PagesModel::of(w.model()).selectedPages().empty());
    EXPECT_EQ(w.table()->selectionModel()->selectedRows().size(), 0);
}

// The tab a reader hears as selected, among the page tabs of the bar "Sidebar".
static QStringList selectedTabs(SidebarTabBar& bar)
{
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(&bar);
    EXPECT_EQ(node->role(), QAccessible::PageTabList);
    EXPECT_EQ(node->text(QAccessible::Name), QStringLiteral("Sidebar"));
    QStringList selected;
    for (int i = 0; i < node->childCount(); ++i) {
        EXPECT_EQ(node->child(i)->role(), QAccessible::PageTab);
        if (node->child(i)->state().selected) selected << node->child(i)->text(QAccessible::Name);
    }
    return selected;
}

TEST(Sidebar, TheChosenTabIsSavedAndEmptyListsSaySo)
{
    Settings settings;
    auto document = quarnkit::QuarnDocument::fromData(testsupport::makeTextPdf(2));
    {
        auto screen = showScreen(document.get(), {}, settings);
        auto* pane = screen->findChild<SidebarPane*>();
        EXPECT_EQ(selectedTabs(*pane->tabBar()), QStringList{QStringLiteral("Pages")});
        QTest::mouseClick(pane->tabBar()->button(SidebarTab::marks), Qt::LeftButton);
        EXPECT_EQ(PagesModel::of(screen->model()).sidebarTab(), SidebarTab::marks);
        EXPECT_EQ(selectedTabs(*pane->tabBar()), QStringList{QStringLiteral("Marks")});
        // Clicking the tab already chosen changes nothing.
        QWidget* list = pane->content();
        QTest::mouseClick(pane->tabBar()->button(SidebarTab::marks), Qt::LeftButton);
        EXPECT_EQ(pane->content(), list);
    }
    auto screen = showScreen(document.get(), {}, settings);
    ASSERT_TRUE(testsupport::waitFor([&] { return screen->filledIn(); }));
    auto* pane = screen->findChild<SidebarPane*>();
    EXPECT_EQ(PagesModel::of(screen->model()).sidebarTab(), SidebarTab::marks);
    auto* marksEmpty = pane->content()->findChild<SidebarEmptyState*>();
    ASSERT_NE(marksEmpty, nullptr);
    EXPECT_TRUE(testsupport::waitFor([&] { return marksEmpty->isVisible(); }));
    EXPECT_EQ(marksEmpty->message(), QStringLiteral("No marks yet. Pick a tool and draw on the page."));
    EXPECT_EQ(marksEmpty->symbol(), QStringLiteral("scribble.variable"));

    PagesModel::of(screen->model()).showSidebarTab(SidebarTab::outline); // as the View menu does
    EXPECT_EQ(selectedTabs(*pane->tabBar()), QStringList{QStringLiteral("Outline")});
    auto* outline = screen->findChild<OutlineList*>();
    ASSERT_NE(outline, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return outline->emptyState()->isVisible(); }));
    EXPECT_EQ(outline->emptyState()->message(), QStringLiteral("This PDF has no outline."));
    EXPECT_EQ(outline->emptyState()->symbol(), QStringLiteral("list.bullet.indent"));
}

TEST(Sidebar, TheOutlineHighlightsTheEntryOfTheCurrentPage)
{
    Window w(outlinedPdf(), SidebarTab::outline);
    OutlineList* list = w.outline();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return list->map().has_value(); }));
    EXPECT_EQ(list->rows().size(), 3u); // A is closed in the file

    struct Case {
        int page;
        std::optional<OutlinePath> highlight;
    } cases[] = {
        {6, OutlinePath{2}}, // B and C start on page 5: the later one, C
        {4, OutlinePath{2}},
        {1, OutlinePath{0}}, // A1's page, with A collapsed: A stands for it
        {0, OutlinePath{0}},
    };
    for (const Case& c : cases) {
        w.view()->goToPage(c.page);
        ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == c.page; }));
        EXPECT_EQ(list->highlight(), c.highlight) << c.page;
    }

    // The chevron expands without moving; the highlight moves into A1 on page 2.
    w.view()->goToPage(1);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 1; }));
    QTest::mouseClick(list->view()->viewport(), Qt::LeftButton, {}, list->chevronRect({0}).center());
    EXPECT_EQ(list->rows().size(), 4u);
    EXPECT_EQ(list->highlight(), (OutlinePath{0, 0}));
    EXPECT_EQ(w.model().pageIndex(), 1);

    // The highlighted row is drawn in the accent tint; the others are not.
    const QImage shot = list->view()->viewport()->grab().toImage();
    const QPoint lit = list->rowRect({0, 0}).center() + QPoint(-40, 0);
    const QPoint plain = list->rowRect({1}).center() + QPoint(-40, 0);
    EXPECT_GT(shot.pixelColor(lit * shot.devicePixelRatio()).blue(),
              shot.pixelColor(plain * shot.devicePixelRatio()).blue());

    // A click on a title goes to its entry.
    QTest::mouseClick(list->view()->viewport(), Qt::LeftButton, {}, list->rowRect({2}).center());
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 4; }));
    EXPECT_EQ(list->highlight(), (OutlinePath{2}));
}

TEST(Sidebar, AnOutlineTitleOfOneLongWordStaysInItsColumn)
{
    // A word wider than the list, as in a German "Abkuerzungsverzeichnis".
    const std::string word(80, 'W');
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R >>",
        "<< /Type /Pages /Kids [5 0 R] /Count 1 >>",
        "<< /Type /Outlines /First 4 0 R /Last 4 0 R /Count 1 >>",
        "<< /Title (" + word + ") /Parent 3 0 R /Dest [5 0 R /Fit] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>",
    };
    Window w(testsupport::writePdf(objects), SidebarTab::outline);
    OutlineList* list = w.outline();
    ASSERT_TRUE(list && testsupport::waitFor([&] { return list->map().has_value(); }));
    ASSERT_TRUE(testsupport::waitFor([&] { return list->view()->isVisible(); }));

    // The word is not cut off at the column's edge: it breaks onto a
    // second line, which carries the rest of it.
    QFont titleFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    titleFont.setPixelSize(12);
    const int line = QFontMetrics(titleFont).lineSpacing();
    const QRect row = list->rowRect({0});
    ASSERT_GE(row.height(), 2 * line);
    const QImage shot = list->view()->viewport()->grab().toImage();
    const qreal ratio = shot.devicePixelRatio();
    const QColor back = shot.pixelColor(QPoint(row.left() + 10, row.center().y()) * ratio);
    const auto inked = [&](int top) {
        int count = 0;
        for (int x = row.left() + 30; x < row.right() - 30; ++x)
            for (int y = top; y < top + line; ++y) {
                const QColor c = shot.pixelColor(QPoint(x, y) * ratio);
                count += std::abs(c.red() - back.red()) + std::abs(c.green() - back.green())
                             + std::abs(c.blue() - back.blue())
                         > 30;
            }
        return count;
    };
    EXPECT_GT(inked(row.top() + 5 + line), inked(row.top() + 5) / 4);
}

// Titles that wrap take rows of their lines' height, also once the list has
// a scroll bar, which narrows the rows and wraps more titles: no title runs
// into the row below it.
TEST(Sidebar, OutlineRowsTakeTheHeightTheirTitlesNeed)
{
    // Objects: 1 catalog, 2 pages, 3 the page, 4 the outline, 5 a closed
    // part, 6… its chapters, one character longer each, so that some wrap
    // only in the narrowed rows.
    const std::string words = "The long way round the lakes and the hills of the north country and home again by sea";
    const int chapters = 70;
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R /Outlines 4 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>",
        "<< /Type /Outlines /First 5 0 R /Last 5 0 R /Count 1 >>",
        "<< /Title (Part one) /Parent 4 0 R /Dest [3 0 R /Fit] /First 6 0 R /Last " + std::to_string(5 + chapters)
            + " 0 R /Count -" + std::to_string(chapters) + " >>",
    };
    for (int k = 0; k < chapters; ++k) {
        const int num = 6 + k;
        std::string entry = "<< /Title (" + words.substr(0, size_t(15 + k)) + ") /Parent 5 0 R /Dest [3 0 R /Fit]";
        if (k > 0) entry += " /Prev " + std::to_string(num - 1) + " 0 R";
        if (k + 1 < chapters) entry += " /Next " + std::to_string(num + 1) + " 0 R";
        objects.push_back(entry + " >>");
    }
    Window w(testsupport::writePdf(objects), SidebarTab::outline);
    OutlineList* list = w.outline();
    ASSERT_TRUE(list && testsupport::waitFor([&] { return list->map().has_value(); }));
    QListView* view = list->view();
    ASSERT_TRUE(testsupport::waitFor([&] { return view->isVisible() && view->width() == list->width(); }));
    ASSERT_FALSE(view->verticalScrollBar()->isVisible());

    QFont titleFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    titleFont.setPixelSize(12);
    const int line = QFontMetrics(titleFont).lineSpacing();
    QString wrong;
    const auto fitted = [&] {
        wrong.clear();
        int bottom = INT_MIN;
        for (int i = 0; i < view->model()->rowCount(); ++i) {
            const QModelIndex index = view->model()->index(i, 0);
            const QRect rect = view->visualRect(index);
            const int needs = view->itemDelegate()->sizeHint(QStyleOptionViewItem(), index).height();
            if (rect.height() != needs || rect.top() < bottom)
                wrong += QStringLiteral("row %1: %2 high at %3, needs %4; ")
                             .arg(i)
                             .arg(rect.height())
                             .arg(rect.top())
                             .arg(needs);
            bottom = rect.bottom() + 1;
        }
        return wrong.isEmpty();
    };
    // The part opened by its key: its chapters fill more than the column.
    view->setFocus();
    ASSERT_TRUE(testsupport::waitFor([&] { return view->hasFocus(); }));
    QTest::keyClick(w.screen->window()->windowHandle(), Qt::Key_Right);
    ASSERT_EQ(view->model()->rowCount(), 1 + chapters);
    ASSERT_TRUE(testsupport::waitFor([&] { return view->verticalScrollBar()->isVisible(); }));
    EXPECT_TRUE(testsupport::waitFor(fitted)) << wrong.toStdString();
    // The longest titles take two lines, the shortest one.
    EXPECT_GE(list->rowRect({0, chapters - 1}).height(), 2 * line);
    EXPECT_LT(list->rowRect({0, 0}).height(), 2 * line);
}

TEST(Sidebar, ScreenReadersExpandCollapseAndOpenOutlineEntries)
{
    Window w(outlinedPdf(), SidebarTab::outline);
    OutlineList* list = w.outline();
    ASSERT_TRUE(list && testsupport::waitFor([&] { return list->map().has_value(); }));
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(list->view());
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->role(), QAccessible::Tree);
    // The tree as a reader walks it: each item as "level name", children after their parent.
    const std::function<QStringList(QAccessibleInterface*, int)> tree = [&](QAccessibleInterface* node, int level) {
        QStringList items;
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface* child = node->child(i);
            EXPECT_EQ(child->role(), QAccessible::TreeItem);
            EXPECT_EQ(child->parent(), node);
            EXPECT_EQ(node->indexOfChild(child), i);
            items << QString::number(level) + QLatin1Char(' ') + child->text(QAccessible::Name)
                  << tree(child, level + 1);
        }
        return items;
    };
    EXPECT_EQ(tree(reader, 1), (QStringList{"1 A, page 1", "1 B, page 5", "1 C, page 5"}));
    QAccessibleInterface* a = reader->child(0);
    ASSERT_TRUE(a && a->actionInterface());
    EXPECT_TRUE(a->state().expandable && a->state().collapsed);
    EXPECT_EQ(a->actionInterface()->actionNames(),
              (QStringList{QAccessibleActionInterface::pressAction(), QStringLiteral("Expand")}));
    a->actionInterface()->doAction(QStringLiteral("Expand"));
    EXPECT_TRUE(a->state().expanded);
    EXPECT_EQ(tree(reader, 1), (QStringList{"1 A, page 1", "2 A1, page 2", "1 B, page 5", "1 C, page 5"}));
    EXPECT_EQ(a->actionInterface()->actionNames().last(), QStringLiteral("Collapse"));
    a->actionInterface()->doAction(QStringLiteral("Collapse"));
    EXPECT_EQ(a->childCount(), 0);

    // An entry without children only goes to its page.
    QAccessibleInterface* b = reader->child(1);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->actionInterface()->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
    b->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 4; }));
}

// By the keyboard alone: Tab brings the keys into the outline at the
// highlighted row, the arrows move, open and close without turning the
// page, Return and Space go to the entry, and a reader hears the row.
TEST(Sidebar, TheKeysWorkTheOutlineAndLeaveThePageWhereItIs)
{
    Window w(outlinedPdf(), SidebarTab::outline);
    OutlineList* list = w.outline();
    ASSERT_TRUE(list && testsupport::waitFor([&] { return list->map().has_value(); }));
    QApplication::setActiveWindow(w.screen.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.screen.get()));
    QWindow* keys = w.screen->windowHandle();
    for (int i = 0; i < 60 && !list->view()->hasFocus(); ++i) QTest::keyClick(keys, Qt::Key_Tab);
    ASSERT_TRUE(list->view()->hasFocus());
    // The row the keys are on, as a reader hears it.
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(list->view());
    const auto keyRow = [&] {
        QAccessibleInterface* row = reader->focusChild();
        return row && row->state().focused ? row->text(QAccessible::Name) : QString();
    };
    EXPECT_EQ(keyRow(), QStringLiteral("A, page 1"));

    const std::map<OutlinePath, QString> spoken = {
        {{0}, "A, page 1"}, {{0, 0}, "A1, page 2"}, {{1}, "B, page 5"}, {{2}, "C, page 5"}};
    const struct {
        Qt::Key key;
        OutlinePath row; // where the keys are after it
        size_t rows;     // rows shown
        int page;        // the page shown
    } steps[] = {
        {Qt::Key_Down, {1}, 3, 0},                                 // B: the page stays
        {Qt::Key_Up, {0}, 3, 0},        {Qt::Key_Left, {0}, 3, 0}, // closed and at the top: nowhere to go
        {Qt::Key_Right, {0}, 4, 0},                                // opens A
        {Qt::Key_Right, {0, 0}, 4, 0},                             // into A1
        {Qt::Key_Return, {0, 0}, 4, 1}, {Qt::Key_Left, {0}, 4, 1}, // back to its parent
        {Qt::Key_Left, {0}, 3, 1},                                 // closes A
        {Qt::Key_End, {2}, 3, 1},       {Qt::Key_Space, {2}, 3, 4}, {Qt::Key_Right, {2}, 3, 4}, // nothing under C
        {Qt::Key_Home, {0}, 3, 4},      {Qt::Key_Enter, {0}, 3, 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(QKeySequence(step.key).toString().toStdString());
        QTest::keyClick(keys, step.key);
        // A reader hears A open or closed, and finds A1 under it while it is open.
        QAccessibleInterface* a = reader->child(0);
        EXPECT_EQ(a->state().expanded, step.rows == 4);
        EXPECT_EQ(a->state().collapsed, step.rows == 3);
        EXPECT_EQ(a->childCount(), int(step.rows) - 3);
        ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == step.page; }));
        QApplication::processEvents();
        EXPECT_EQ(w.model().pageIndex(), step.page);
        EXPECT_EQ(keyRow(), spoken.at(step.row));
        EXPECT_EQ(list->rows().size(), step.rows);
        EXPECT_TRUE(list->view()->hasFocus());
    }
    // Tab goes on out of the list; coming back, the keys are on the highlighted row again.
    QTest::keyClick(keys, Qt::Key_Down);
    EXPECT_EQ(keyRow(), spoken.at({1}));
    QTest::keyClick(keys, Qt::Key_Tab);
    EXPECT_FALSE(list->view()->hasFocus());
    QTest::keyClick(keys, Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_TRUE(list->view()->hasFocus());
    ASSERT_EQ(list->highlight(), (OutlinePath{0}));
    EXPECT_EQ(keyRow(), spoken.at({0}));
}

TEST(Sidebar, TheOutlineOfATypesetFile)
{
    Settings settings;
    quarnkit::saveSidebarTab(SidebarTab::outline, settings.defaults);
    auto document = quarnkit::QuarnDocument::open(corpus("pdflatex-outline.pdf"));
    auto screen = showScreen(document.get(), {}, settings);
    ASSERT_TRUE(testsupport::waitFor([&] { return screen->model().pageCount() == 4 && screen->filledIn(); }));
    auto* list = screen->findChild<OutlineList*>();
    ASSERT_TRUE(testsupport::waitFor([&] { return list->map().has_value(); }));
    EXPECT_EQ(list->highlight(), std::nullopt); // the contents page comes before every section
    screen->pageViewHost()->view()->goToPage(2);
    ASSERT_TRUE(testsupport::waitFor([&] { return screen->model().pageIndex() == 2; }));
    // Sections 5, 6 and 7 start on page 3: the last of them.
    EXPECT_EQ(list->highlight(), (OutlinePath{6}));
}
