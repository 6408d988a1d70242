// The History panel as a user meets it: a history in its own file, the
// panel on screen, clicks and keys.
#include "Quarn/History/HistoryList.h"
#include "Quarn/History/HistoryPanel.h"
#include "Quarn/Design/ErrorAlert.h"
#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/History/LibraryViews.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/Design/ChromeButtons.h"
#include "QuarnKit/History/HistoryLibraryFixture.h"
#include "QuarnKit/History/PageThumbnail.h"
#include "Quarn/Design/UnnamedControls.h"
#include "support/UrlCatcher.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QScrollBar>
#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include "Quarn/Design/MotionRig.h"

#include <sys/stat.h>

using namespace quarn;
using historytest::Library;
using historytest::titledPdf;
using quarnkit::HistoryEntry;

namespace {

// A panel over a library of its own, shown as a window of its own.
struct Panel {
    Library h;
    LibraryThumbnails thumbnails{h.dir.filePath("thumbnails")};
    std::unique_ptr<HistoryPanel> panel;
    std::vector<QString> opened;

    // Pictures still being drawn land before their folder goes.
    ~Panel()
    {
        testsupport::waitFor([this] { return thumbnails.idle(); }, 10000);
    }

    // Made and not yet shown.
    void make(const std::vector<Library::Seed>& seeds)
    {
        h.seed(seeds);
        quarnkit::HistoryLibrary& library = h.make();
        library.opener = [this](const QString& path, std::function<void(const quarnkit::OpenOutcome&)> done) {
            opened.push_back(path);
            done({});
        };
        panel = std::make_unique<HistoryPanel>(library, nullptr, nullptr, &thumbnails);
        panel->resize(HistoryPanel::columnWidth, 700);
    }
    void show(const std::vector<Library::Seed>& seeds)
    {
        make(seeds);
        show();
    }
    void show()
    {
        panel->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel.get()));
    }
    quarnkit::HistoryLibrary& library() { return *h.library; }
    HistoryListModel& model() { return *panel->listModel(); }

    // What the list shows, top to bottom: "# Period (count)" for headers, titles for rows.
    QStringList shown()
    {
        QStringList lines;
        for (int row = 0; row < model().rowCount(); ++row) {
            const HistoryListModel::Row& r = model().row(row);
            if (r.kind == HistoryListModel::RowKind::header)
                lines << QStringLiteral("# %1 (%2)").arg(quarnkit::title(r.period)).arg(r.count);
            else if (r.entry) lines << r.entry->displayTitle();
        }
        return lines;
    }
    const HistoryEntry& entry(const QString& title)
    {
        for (const HistoryEntry& e : library().entries())
            if (e.displayTitle() == title) return e;
        throw std::logic_error("no such entry");
    }
    // A click on a row, or on one of its links.
    void click(const QString& title, int link = -1)
    {
        HistoryList* list = panel->list();
        const int row = model().rowOf(entry(title).id);
        const QRect target = link < 0 ? list->visualRect(model().index(row)) : list->linkRect(row, link);
        ASSERT_FALSE(target.isEmpty());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, target.center());
    }
    bool missing(const QString& title) { return model().missing(entry(title)); }
    void type(const QString& text)
    {
        for (const QChar c : text) QTest::keyClick(panel->windowHandle(), c.toLatin1());
    }
    QWindow* window() { return panel->windowHandle(); }
};

// Three letters that no row holds. The search reads each file's folder
// too, and the scratch folder's name ends in random letters ("zzz" there
// would match every row).
QString wordNotIn(const QString& folder)
{
    for (char letter = 'z';; --letter)
        if (const QString word(3, QLatin1Char(letter)); !folder.contains(word, Qt::CaseInsensitive)) return word;
}

// Less than a day ago stays today, so the tests hold just after midnight too.
QDateTime daysAgo(double days)
{
    if (days < 1) return testsupport::earlierToday(qint64(days * 86400));
    return QDateTime::currentDateTimeUtc().addSecs(qint64(-days * 86400));
}

} // namespace

TEST(HistoryPanel, ListsByPeriodAndFiltersAsTheUserTypes)
{
    Panel p;
    const auto file = [&](const QString& name) { return p.h.write(name, titledPdf("x", 1)); };
    p.show({{file("Reports/q4.pdf"), QStringLiteral("Quarterly Report 2023"), daysAgo(0.01)},
            {file("report-2022.pdf"), std::nullopt, daysAgo(0.02)},
            {file("2023/Report draft.pdf"), std::nullopt, daysAgo(40)},
            {file("taxes 2023.pdf"), std::nullopt, daysAgo(400)}});
    EXPECT_EQ(p.shown(), QStringList({"# Today (2)", "Quarterly Report 2023", "report-2022", "# Earlier (2)",
                                      "Report draft", "taxes 2023"}));
    EXPECT_EQ(p.panel->footerCount()->text(), "4 PDFs");

    // The field first (a click), then the words as keys to the window.
    QTest::mouseClick(p.panel->searchField(), Qt::LeftButton);
    p.type("report 2023");
    EXPECT_EQ(p.shown(), QStringList({"# Today (1)", "Quarterly Report 2023", "# Earlier (1)", "Report draft"}));
    EXPECT_EQ(p.panel->footerCount()->text(), "4 PDFs"); // the footer counts them all

    // Return opens the top row.
    QTest::keyClick(p.panel->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return !p.opened.empty(); }));
    EXPECT_EQ(p.opened.front(), p.h.dir.filePath("files/Reports/q4.pdf"));

    // Nothing matches: the words come back, trimmed, in the message.
    QTest::keyClick(p.panel->windowHandle(), Qt::Key_Escape);
    EXPECT_EQ(p.panel->searchField()->text(), "");
    const QString absent = wordNotIn(p.h.dir.path());
    p.type(" " + absent + " ");
    ASSERT_NE(p.panel->message(), nullptr);
    EXPECT_EQ(p.panel->message()->title(), "No matches");
    EXPECT_EQ(p.panel->message()->detail(), QStringLiteral("Nothing in your history matches “%1”.").arg(absent));
    EXPECT_TRUE(p.panel->searchField()->isVisible());
}

TEST(HistoryPanel, FilesFoundGoneOfferLocateAndRemove)
{
    Panel p;
    const QString kept = p.h.write("kept.pdf", titledPdf("x", 2));
    const QString moved = p.h.write("moved.pdf", titledPdf("x", 3));
    const QString deleted = p.h.write("deleted.pdf", titledPdf("x", 1));
    QFile::remove(moved);
    QFile::remove(deleted);
    std::vector<HistoryEntry> located;
    p.show({{kept}, {moved, std::nullopt, daysAgo(0.01), 3}, {deleted, std::nullopt, daysAgo(0.02)}});
    p.panel->locate = [&](const HistoryEntry& entry, QWidget*) { located.push_back(entry); };
    ASSERT_TRUE(testsupport::waitFor([&] { return p.library().states().size() == 3; }));
    EXPECT_FALSE(p.missing("kept"));
    EXPECT_TRUE(p.missing("moved"));
    EXPECT_EQ(p.model().rowData(p.model().rowOf(p.entry("moved").id)).detail.section(" · ", 1), "Moved or deleted");

    // Opening a row found gone tells why, above the list.
    p.click("moved");
    ASSERT_TRUE(testsupport::waitFor([&] { return p.panel->notice()->isVisible(); }));
    EXPECT_EQ(p.panel->notice()->problem().title, "“moved” was moved or deleted.");
    EXPECT_TRUE(p.opened.empty());
    QTest::mouseClick(p.panel->notice()->dismissButton(), Qt::LeftButton);
    EXPECT_FALSE(p.panel->notice()->isVisible());

    // Locate…: the user points at the file; the row is itself again.
    p.click("moved", 0);
    ASSERT_EQ(located.size(), 1u);
    EXPECT_EQ(located.front().path, moved);
    const QString found = p.h.write("elsewhere/moved.pdf", titledPdf("x", 3));
    p.library().relocate(located.front(), found);
    ASSERT_TRUE(testsupport::waitFor([&] { return p.library().state(located.front().id).has_value(); }));
    EXPECT_FALSE(p.missing("moved"));

    // Its menu copies the path it was recorded at.
    p.panel->showMenu(p.entry("deleted"), p.panel->mapToGlobal(QPoint(20, 200)), MenuAsked::byPointer);
    QMenu* menu = p.panel->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (QAction* action : menu->actions()) items << action->text();
    EXPECT_EQ(items, QStringList({"Locate…", "Copy Path", "", "Remove from History"}));
    menu->actions()[1]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), deleted);
    menu->close();

    // Remove: the row goes, and the file's entry with it.
    p.click("deleted", 1);
    EXPECT_EQ(p.shown(), QStringList({"# Today (2)", "kept", "moved"}));
    EXPECT_FALSE(p.library().store().entryForPath(deleted));
}

TEST(HistoryPanel, ASectionsHeaderStaysOnTopWhileItsRowsScrollUnderIt)
{
    Panel p;
    std::vector<Library::Seed> seeds;
    for (int i = 0; i < 30; ++i)
        seeds.emplace_back(p.h.write(QStringLiteral("f%1.pdf").arg(i), titledPdf("x", 1)), std::nullopt,
                           daysAgo(0.001 * i));
    p.show(seeds);
    HistoryList* list = p.panel->list();
    EXPECT_FALSE(list->pinnedHeader()); // its own row is in view
    list->verticalScrollBar()->setValue(300);
    QCoreApplication::processEvents();
    ASSERT_EQ(list->pinnedHeader(), 0);
    // A click on the pinned header opens nothing under it.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(100, 5));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(100, 200));
    ASSERT_TRUE(testsupport::waitFor([&] { return !p.opened.empty(); }));
    EXPECT_EQ(p.opened.size(), 1u);
}

TEST(HistoryPanel, ClearHistoryAsksFirst)
{
    Panel p;
    p.show({{p.h.write("a.pdf", titledPdf("x", 1))}, {p.h.write("b.pdf", titledPdf("x", 1))}});
    const auto dialog = [&]() -> QMessageBox* {
        QMessageBox* box = nullptr;
        testsupport::waitFor([&] {
            const auto boxes = p.panel->window()->findChildren<QMessageBox*>();
            for (QMessageBox* b : boxes)
                if (b->isVisible()) box = b;
            return box != nullptr;
        });
        return box;
    };
    const auto press = [](QMessageBox* box, const QString& text) {
        for (QAbstractButton* button : box->buttons())
            if (button->text() == text) QTest::mouseClick(button, Qt::LeftButton);
    };

    QTest::mouseClick(p.panel->clearButton(), Qt::LeftButton);
    QMessageBox* box = dialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Clear your history?");
    // Wide enough for a title bar to show its title whole.
    EXPECT_GE(box->width(), widthForTitle(*box, box->windowTitle()));
    EXPECT_EQ(box->informativeText(), "ravlen forgets the PDFs you opened. The files stay where they are.");
    press(box, "Cancel");
    EXPECT_TRUE(testsupport::waitFor([&] { return !box->isVisible(); }));
    EXPECT_EQ(p.library().entries().size(), 2u);

    QTest::mouseClick(p.panel->clearButton(), Qt::LeftButton);
    box = dialog();
    ASSERT_NE(box, nullptr);
    press(box, "Clear History");
    EXPECT_TRUE(p.library().entries().empty());
    EXPECT_FALSE(testsupport::readFile(p.h.historyFile()).contains("a.pdf")); // on disk at once
    ASSERT_NE(p.panel->message(), nullptr);
    EXPECT_EQ(p.panel->message()->title(), "No history yet");
    EXPECT_FALSE(p.panel->searchField()->isVisible());
    EXPECT_FALSE(p.panel->clearButton()->isVisible());
    // With keeping a history off, the empty panel offers to switch it on: the welcome window's tests.
}

TEST(HistoryPanel, TodayBecomesYesterdayAtMidnight)
{
    Panel p;
    // Four tenths of a second before midnight, and the clock runs on.
    const QDateTime lateEvening(QDate(2024, 5, 10), QTime(23, 59, 59, 600), Qt::UTC);
    p.h.seed({{p.h.write("evening.pdf", titledPdf("x", 1)), std::nullopt, lateEvening.addSecs(-3 * 3600)}});
    quarnkit::HistoryLibrary& library = p.h.make();
    HistoryPanel panel(library, nullptr, nullptr, &p.thumbnails);
    QElapsedTimer elapsed;
    elapsed.start();
    panel.setClock([&] { return lateEvening.addMSecs(elapsed.elapsed()); },
                   quarnkit::LibraryCalendar::of(QLocale(QLocale::English, QLocale::UnitedKingdom), QTimeZone::utc()));
    panel.show();
    const auto firstHeader = [&] { return quarnkit::title(panel.listModel()->row(0).period); };
    EXPECT_EQ(firstHeader(), "Today");
    EXPECT_TRUE(testsupport::waitFor([&] { return firstHeader() == "Yesterday"; }));
}

TEST(HistoryPanel, ThumbnailsAreMadeOffTheUIThreadIntoTheDesktopCache)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    Panel p;
    const QString path = p.h.write("pages.pdf", testsupport::makeTextPdf(2));
    p.show({{path}});
    const QString root = p.h.dir.filePath("thumbnails");
    const QString stored = quarnkit::ThumbnailCache::thumbnailPath(root, path, quarnkit::ThumbnailCache::Size::normal);
    ASSERT_TRUE(testsupport::waitFor([&] { return QFile::exists(stored) && p.thumbnails.idle(); }));
    const QImage image(stored);
    EXPECT_EQ(image.text("Thumb::URI"), QString::fromLatin1(quarnkit::ThumbnailCache::fileUri(path)));
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    EXPECT_EQ(image.text("Thumb::MTime"), QString::number(info.st_mtime));
    struct stat thumb {};
    ::stat(QFile::encodeName(stored).constData(), &thumb);
    EXPECT_EQ(thumb.st_mode & 0777, 0600u);
    // The row shows it from memory, and scrolling back asks nobody again.
    const auto state = p.library().state(p.entry("pages").id);
    ASSERT_TRUE(state);
    EXPECT_FALSE(p.thumbnails.image(LibraryThumbnails::cacheKey(path, state->modified)).isNull());
    EXPECT_EQ(p.thumbnails.count(), 1);
}

// A row's first page, arriving while the row shows, fades in over the
// placeholder (0.18 s); with less motion asked for by the desktop it is there
// at once. A row shown with its page at hand shows it at once.
TEST(HistoryPanel, AnArrivingFirstPageFadesInOverThePlaceholderUnlessMotionIsReduced)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    for (const bool reduced : {false, true}) {
        SCOPED_TRACE(reduced ? "reduced motion" : "full motion");
        motiontest::DesktopMotion motion(reduced);
        Panel p;
        const QString path = p.h.write("pages.pdf", testsupport::makeTextPdf(2));
        p.make({{path}});
        HistoryList* list = p.panel->list();
        // The 36 × 46 picture at the row's start, as drawn.
        const auto thumbnailOf = [&](HistoryList* in) {
            const QRect row = in->rowRect(in->historyModel()->rowOf(p.entry("pages").id));
            return in->viewport()->grab(QRect(row.topLeft() + QPoint(8, 7), QSize(36, 46))).toImage();
        };
        const auto rowPicture = [&] { return thumbnailOf(list); };
        // As the page arrives, after the list has heard of it.
        std::optional<double> shownOnArrival;
        QImage drawnOnArrival;
        QObject::connect(&p.thumbnails, &LibraryThumbnails::ready, list, [&](const QString& key) {
            shownOnArrival = list->pictureShown(key);
            drawnOnArrival = rowPicture();
        });
        p.show();
        ASSERT_TRUE(testsupport::waitFor([&] { return shownOnArrival.has_value(); }, 10000));
        EXPECT_EQ(*shownOnArrival, reduced ? 1.0 : 0.0);
        const auto state = p.library().state(p.entry("pages").id);
        ASSERT_TRUE(state);
        const QString key = LibraryThumbnails::cacheKey(path, state->modified);
        ASSERT_TRUE(testsupport::waitFor([&] { return list->pictureShown(key) == 1.0; }));
        // The page itself: drawn only once it has come in, unless at once.
        QApplication::processEvents();
        EXPECT_EQ(drawnOnArrival == rowPicture(), reduced);

        // Another panel over the same pictures: there at once.
        HistoryPanel other(p.library(), nullptr, nullptr, &p.thumbnails);
        other.resize(HistoryPanel::columnWidth, 700);
        other.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
        EXPECT_EQ(other.list()->pictureShown(key), 1.0);
        EXPECT_EQ(thumbnailOf(other.list()), rowPicture());
        EXPECT_EQ(p.thumbnails.count(), 1);
    }
}

namespace {

// What a screen reader finds at a row of a library list.
struct ReaderRow {
    QString name;
    QAccessible::Role role;
    bool selected;
    QStringList actions;
};

ReaderRow readerRow(LibraryList* list, int row)
{
    QAccessibleInterface* listElement = QAccessible::queryAccessibleInterface(list);
    QAccessibleInterface* element = listElement->child(row);
    if (!element) return {};
    QAccessibleActionInterface* actions = element->actionInterface();
    return {element->text(QAccessible::Name), element->role(), bool(element->state().selected),
            actions ? actions->actionNames() : QStringList()};
}

void act(LibraryList* list, int row, const QString& action)
{
    QAccessible::queryAccessibleInterface(list)->child(row)->actionInterface()->doAction(action);
}

// Whether a screen reader walking down from `root` meets `widget`.
bool readerMeets(QWidget* root, QWidget* widget)
{
    std::function<bool(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (node->object() == widget) return true;
        for (int i = 0; i < node->childCount(); ++i)
            if (QAccessibleInterface* child = node->child(i); child && walk(child)) return true;
        return false;
    };
    return walk(QAccessible::queryAccessibleInterface(root));
}

} // namespace

TEST(HistoryPanel, AScreenReaderOpensLocatesShowsAndRemovesRows)
{
    Panel p;
    const QString kept = p.h.write("kept.pdf", titledPdf("x", 2));
    const QString gone = p.h.dir.filePath("files/gone.pdf");
    std::vector<HistoryEntry> located;
    p.show({{kept, std::nullopt, daysAgo(0.01), 2}, {gone, std::nullopt, daysAgo(0.02)}});
    p.panel->locate = [&](const HistoryEntry& entry, QWidget*) { located.push_back(entry); };
    ASSERT_TRUE(testsupport::waitFor([&] { return p.library().states().size() == 2; }));
    HistoryList* list = p.panel->list();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(list)->childCount(), 3);
    // The list is named; the banner, put away, is not there to be read.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(list)->role(), QAccessible::List);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(list)->text(QAccessible::Name), "History");
    EXPECT_TRUE(readerMeets(p.panel.get(), list));
    EXPECT_FALSE(readerMeets(p.panel.get(), p.panel->notice()));
    // A reader that asks what stands at a point of the screen (under the
    // pointer, a finger) meets the row drawn there.
    for (int row = 0; row < 3; ++row) {
        QAccessibleInterface* element = QAccessible::queryAccessibleInterface(list)->child(row);
        const QPoint centre = element->rect().center();
        EXPECT_EQ(QAccessible::queryAccessibleInterface(list)->childAt(centre.x(), centre.y()), element) << row;
    }

    const ReaderRow header = readerRow(list, 0);
    EXPECT_EQ(header.name, "Today, 2");
    EXPECT_EQ(header.role, QAccessible::Heading);
    EXPECT_TRUE(header.actions.isEmpty());
    const ReaderRow present = readerRow(list, 1);
    EXPECT_TRUE(present.name.startsWith("kept, "));
    EXPECT_EQ(present.role, QAccessible::Button);
    EXPECT_FALSE(present.selected);
    EXPECT_EQ(present.actions,
              QStringList({QAccessibleActionInterface::pressAction(), "Show in Folder", "Remove from History"}));
    // The window's own file is the selected one. Asked on every paint, also
    // while the panel goes at the end: it holds its own copy of the path.
    p.model().currentPath = [kept] { return kept; };
    EXPECT_TRUE(readerRow(list, 1).selected);
    EXPECT_FALSE(readerRow(list, 2).selected);
    const ReaderRow missing = readerRow(list, 2);
    EXPECT_TRUE(missing.name.contains("Moved or deleted"));
    EXPECT_EQ(missing.actions,
              QStringList({QAccessibleActionInterface::pressAction(), "Locate", "Remove from History"}));

    // The default action opens; Locate asks for the file; the file's folder is shown.
    act(list, 1, QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(testsupport::waitFor([&] { return !p.opened.empty(); }));
    EXPECT_EQ(p.opened.front(), kept);
    act(list, 2, "Locate");
    ASSERT_EQ(located.size(), 1u);
    EXPECT_EQ(located.front().path, gone);
    testsupport::UrlCatcher catcher;
    act(list, 1, "Show in Folder");
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return catcher.opened() == QList<QUrl>{QUrl::fromLocalFile(QFileInfo(kept).path())}; }));
    act(list, 2, "Remove from History");
    EXPECT_EQ(p.shown(), QStringList({"# Today (1)", "kept"}));

    // With nothing to show the folder, the banner says why.
    const testsupport::XdgOpenStandIn noOpener(std::nullopt); // and no file manager on a session bus
    act(list, 1, "Show in Folder");
    ASSERT_TRUE(testsupport::waitFor([&] { return p.panel->notice()->isVisible(); }));
    EXPECT_EQ(p.panel->notice()->problem().title, "ravlen couldn't show “kept” in its folder.");
    EXPECT_EQ(p.panel->notice()->problem().detail,
              "No file manager answered, and xdg-open, which opens folders, isn't installed.");
    EXPECT_TRUE(readerMeets(p.panel.get(), p.panel->notice()));
    // Dismissed, it leaves the reader's view with the screen's.
    QAccessible::queryAccessibleInterface(p.panel->notice()->dismissButton())
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_FALSE(p.panel->notice()->isVisible());
    EXPECT_FALSE(readerMeets(p.panel.get(), p.panel->notice()));
}

TEST(HistoryPanel, TheKeysReachAndOpenTheRows)
{
    Panel p;
    std::vector<Library::Seed> seeds;
    for (int i = 0; i < 30; ++i)
        seeds.emplace_back(p.h.write(QStringLiteral("f%1.pdf").arg(i), titledPdf("x", 1)), std::nullopt,
                           daysAgo(i < 20 ? 0.001 * (i + 1) : 40 + i));
    p.show(seeds);
    HistoryList* list = p.panel->list();
    QTest::mouseClick(p.panel->searchField(), Qt::LeftButton);
    QTest::keyClick(p.window(), Qt::Key_Tab);
    ASSERT_TRUE(list->hasFocus());
    EXPECT_EQ(list->keyboardRow(), 1); // the first file, under its header
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(list)->child(1)->state().focused);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(list)->state().focused); // the row alone

    // Down past the last of Today, over the next header; End and Home; the ends stay.
    for (int i = 0; i < 20; ++i) QTest::keyClick(p.window(), Qt::Key_Down);
    EXPECT_EQ(list->keyboardRow(), 22);
    EXPECT_EQ(list->historyModel()->row(21).kind, HistoryListModel::RowKind::header);
    const QRect shown = list->rowRect(22);
    EXPECT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.height(), list->visualRect(list->model()->index(22, 0)).height()); // not under the pinned header
    QTest::keyClick(p.window(), Qt::Key_End);
    QTest::keyClick(p.window(), Qt::Key_Down);
    EXPECT_EQ(list->keyboardRow(), 31);
    QTest::keyClick(p.window(), Qt::Key_Home);
    EXPECT_EQ(list->keyboardRow(), 1);
    QTest::keyClick(p.window(), Qt::Key_Up);
    EXPECT_EQ(list->keyboardRow(), 1);

    // Return opens the row; the menu key, or Shift+F10, shows its menu.
    QTest::keyClick(p.window(), Qt::Key_Down);
    QTest::keyClick(p.window(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return !p.opened.empty(); }));
    EXPECT_EQ(p.opened.front(), p.h.dir.filePath("files/f1.pdf"));
    WindowEvents::offerMenusOnShiftF10(); // as the application does as it starts
    for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Menu), Qt::ShiftModifier | Qt::Key_F10}) {
        QTest::keyClick(p.window(), keys.key(), keys.keyboardModifiers());
        QMenu* menu = p.panel->findChild<QMenu*>();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->actions().first()->text(), "Open");
        EXPECT_EQ(accessibletest::focusedMenuItems(menu), QStringList{"Open"});
        menu->close();
        delete menu;
    }

    // The keys stay with their row when the list is made again; a removed
    // row hands them to the next.
    p.library().recordOpen(p.h.dir.filePath("files/f5.pdf"), nullptr);
    EXPECT_EQ(list->historyModel()->row(list->keyboardRow()).entry->displayTitle(), "f1");
    p.library().remove(p.entry("f1").id);
    EXPECT_EQ(list->historyModel()->row(list->keyboardRow()).entry->displayTitle(), "f2");
}

// The row under the pointer lights up over 0.12 s and the one it left goes
// out as gently, and so do the links drawn in a row; with less motion asked
// for by the desktop, at once.
TEST(HistoryPanel, RowsAndTheirLinksLightUpUnderThePointerEasingUnlessMotionIsReduced)
{
    for (const bool reduced : {false, true}) {
        SCOPED_TRACE(reduced ? "reduced motion" : "full motion");
        motiontest::DesktopMotion motion(reduced);
        const double atOnce = reduced ? 1.0 : 0.0; // how lit each is just after the pointer came
        Panel p;
        p.show({{p.h.write("a.pdf", titledPdf("A", 1)), std::nullopt, daysAgo(0.001)},
                {p.h.write("b.pdf", titledPdf("B", 1)), std::nullopt, daysAgo(0.002)},
                {p.h.dir.filePath("files/gone.pdf"), std::nullopt, daysAgo(0.003)}});
        ASSERT_TRUE(testsupport::waitFor([&] { return p.missing("gone"); }));
        HistoryList* list = p.panel->list();
        const int a = p.model().rowOf(p.entry("a").id), b = p.model().rowOf(p.entry("b").id);
        const auto moveTo = [&](int row) {
            QTest::mouseMove(list->viewport(), list->visualRect(p.model().index(row)).center());
        };
        moveTo(a);
        EXPECT_EQ(list->lit(a), atOnce);
        ASSERT_TRUE(testsupport::waitFor([&] { return list->lit(a) == 1.0; }));
        moveTo(b);
        EXPECT_EQ(list->lit(a), 1 - atOnce); // goes out from where it stood
        EXPECT_EQ(list->lit(b), atOnce);
        EXPECT_TRUE(testsupport::waitFor([&] { return list->lit(a) == 0.0 && list->lit(b) == 1.0; }));

        // Locate… and Remove under the row found gone.
        const int gone = p.model().rowOf(p.entry("gone").id);
        const auto moveToLink = [&](int link) {
            QTest::mouseMove(list->viewport(), list->linkRect(gone, link).center());
        };
        moveToLink(0);
        EXPECT_EQ(list->linkLit(gone, 0), atOnce);
        ASSERT_TRUE(testsupport::waitFor([&] { return list->linkLit(gone, 0) == 1.0; }));
        moveToLink(1);
        EXPECT_EQ(list->linkLit(gone, 0), 1 - atOnce);
        EXPECT_EQ(list->linkLit(gone, 1), atOnce);
        EXPECT_TRUE(
            testsupport::waitFor([&] { return list->linkLit(gone, 0) == 0.0 && list->linkLit(gone, 1) == 1.0; }));
        // Leaving the list, the row and its link go out together.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(list, &leave);
        EXPECT_EQ(list->linkLit(gone, 1), 1 - atOnce);
        EXPECT_EQ(list->lit(gone), 1 - atOnce);
        EXPECT_TRUE(testsupport::waitFor([&] { return list->linkLit(gone, 1) == 0.0 && list->lit(gone) == 0.0; }));
    }
}
