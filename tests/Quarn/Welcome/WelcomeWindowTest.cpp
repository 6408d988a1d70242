// The welcome window as a user meets it: a history and a stand-in index of
// its own, a stand-in xdg-mime, keys sent to the window, clicks, drops and
// the questions it asks.
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/App/LaunchTasks.h"
#include "Quarn/History/HistoryHooks.h"
#include "Quarn/History/HistoryPanel.h"
#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/History/LibraryMenuItems.h"
#include "Quarn/History/LibraryViews.h"
#include "Quarn/Welcome/RecentCard.h"
#include "Quarn/Welcome/VersionBadge.h"
#include "Quarn/Shell/SettingsWindow.h"
#include "Quarn/Welcome/WelcomeController.h"
#include "QuarnKit/Explore/ExploreModel.h"
#include "QuarnKit/History/HistoryLibraryFixture.h"
#include "Quarn/Design/FocusRing.h"
#include "Quarn/Design/MotionRig.h"
#include "QuarnKit/Shell/DefaultPDFHandler.h"
#include "QuarnKit/Shell/VersionTexts.h"
#include "Quarn/Design/UnnamedControls.h"
#include "support/UrlCatcher.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <functional>

using namespace quarn;
using historytest::Library;
using historytest::titledPdf;
using quarnkit::ExploreItem;
using Thumbnail = quarnkit::PageThumbnail::Result;

namespace {

const bool privateConfig = testsupport::usePrivateConfigDir();

// While it lives, `xdg-mime` is a script of the test's own that keeps the
// default PDF application in a file (Document Viewer at first), and the
// desktop's data folder is a scratch one.
struct StandInDesktop {
    QTemporaryDir dir;
    QByteArray oldPath = qgetenv("PATH");
    QByteArray oldData = qgetenv("XDG_DATA_HOME");

    StandInDesktop()
    {
        QDir().mkpath(dir.filePath("bin"));
        QDir().mkpath(dir.filePath("data/applications"));
        QFile entry(dir.filePath("data/applications/evince.desktop"));
        entry.open(QIODevice::WriteOnly);
        entry.write("[Desktop Entry]\nType=Application\nName=Document Viewer\nExec=evince %U\n");
        entry.close();
        const QString script = dir.filePath("bin/xdg-mime");
        QFile file(script);
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral(
                       "#!/bin/sh\n"
                       "state='%1'\n"
                       "case \"$1\" in\n"
                       "query) if [ -f \"$state\" ]; then cat \"$state\"; else echo evince.desktop; fi ;;\n"
                       "default) if [ -f '%2' ]; then echo 'xdg-mime: the default cannot be changed' >&2; exit 4; fi\n"
                       "  echo \"$2\" > \"$state\" ;;\n"
                       "esac\n")
                       .arg(dir.filePath("default-pdf"), dir.filePath("refuse"))
                       .toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(dir.filePath("bin")) + ":" + oldPath);
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    }
    ~StandInDesktop()
    {
        qputenv("PATH", oldPath);
        if (oldData.isEmpty()) qunsetenv("XDG_DATA_HOME");
        else qputenv("XDG_DATA_HOME", oldData);
    }
    // What the desktop answers now, as a user would ask it.
    QString queryDefault() const
    {
        QProcess process;
        process.start(dir.filePath("bin/xdg-mime"), {"query", "default", "application/pdf"});
        process.waitForFinished();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
};

// The question on screen, once it shows.
QMessageBox* question()
{
    QMessageBox* shown = nullptr;
    testsupport::waitFor(
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) shown = box;
            return shown != nullptr;
        },
        5000);
    return shown;
}

QAbstractButton* buttonTitled(QMessageBox* box, const QString& title)
{
    for (QAbstractButton* button : box->buttons())
        if (button->text() == title) return button;
    return nullptr;
}

// A welcome window over a history, a stand-in index and a document
// controller of its own.
struct Welcome {
    StandInDesktop desktop;
    Library h;
    RecentThumbnails thumbnails;
    DocumentController documents;
    std::vector<ExploreItem> found; // what the stand-in index holds
    std::vector<QString> opened;    // with the stand-in opener
    int updatesShown = 0;           // the Software Update window asked for
    std::unique_ptr<WelcomeController> controller;

    ~Welcome()
    {
        controller.reset();
        documents.closeAll();
        testsupport::waitFor([this] { return thumbnails.idle(); }, 10000);
    }

    // Over these history entries; the real document controller opens files
    // when `opensWindows`, else the opens are only counted.
    void make(const std::vector<Library::Seed>& seeds = {}, bool opensWindows = false)
    {
        h.seed(seeds);
        quarnkit::HistoryLibrary& library = h.make();
        documents.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
        if (opensWindows) {
            attachHistory(documents, library);
        } else {
            library.opener = [this](const QString& path, std::function<void(const quarnkit::OpenOutcome&)> done) {
                opened.push_back(path);
                done({});
            };
        }
        WelcomeServices services;
        services.library = &library;
        services.documents = &documents;
        services.thumbnails = &thumbnails;
        services.defaults = &h.defaults;
        services.showUpdates = [this] { ++updatesShown; };
        services.exploreSource = [this] {
            const QString home = h.dir.filePath("files");
            return std::make_unique<quarnkit::FixedExploreSource>(
                found, 300, true,
                quarnkit::ExploreFolders{home, home + "/Downloads", home + "/Desktop", home + "/Documents"});
        };
        controller = std::make_unique<WelcomeController>(services);
    }
    void show()
    {
        controller->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    }
    WelcomeView& view() { return *controller->window()->view(); }
    QWindow* window() { return controller->window()->windowHandle(); }
    void type(const QString& text)
    {
        for (const QChar c : text) QTest::keyClick(window(), c.toLatin1());
    }
    QString pdf(const QString& name, const std::string& title = "x") { return h.write(name, titledPdf(title, 1)); }
    void find(const QString& name) { found.push_back(ExploreItem::make(pdf(name))); }
    // Dragged over the window and, when `release`, dropped.
    bool drop(const QList<QUrl>& urls, bool release = true)
    {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(200, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view(), &enter);
        if (!release) return enter.isAccepted();
        QDropEvent drop(QPointF(200, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view(), &drop);
        return drop.isAccepted();
    }
};

// The names of the accessible elements under `root`, depth first.
QStringList accessibleNames(QWidget* root)
{
    QStringList names;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        names << node->text(QAccessible::Name);
        for (int i = 0; i < node->childCount(); ++i)
            if (QAccessibleInterface* child = node->child(i)) walk(child);
    };
    walk(QAccessible::queryAccessibleInterface(root));
    return names;
}

// The accessible name of the control with the keys in `window`.
QString focusedName(QWidget* window)
{
    QWidget* focused = window->focusWidget();
    return focused ? QAccessible::queryAccessibleInterface(focused)->text(QAccessible::Name) : QString();
}

// Still today just after midnight, where the cards are named "…, Today".
QDateTime minutesAgo(int minutes) { return testsupport::earlierToday(60 * minutes); }

} // namespace

TEST(WelcomeWindow, ALaunchWithoutFilesShowsEightRecentCardsWithTheirFirstPages)
{
    Welcome w;
    std::vector<Library::Seed> seeds;
    seeds.emplace_back(w.pdf("report.final.pdf"), std::nullopt, minutesAgo(1));
    const QString locked = w.h.write("locked.pdf", testsupport::readFile(QString::fromStdString(
                                                       testsupport::corpusPath("libreoffice-writer-password.pdf"))));
    seeds.emplace_back(locked, std::nullopt, minutesAgo(2));
    seeds.emplace_back(w.h.write("damaged.pdf", "%PDF-1.4 nothing more"), std::nullopt, minutesAgo(3));
    seeds.emplace_back(w.h.dir.filePath("files/gone.pdf"), std::nullopt, minutesAgo(4)); // never there
    for (int i = 0; i < 6; ++i)
        seeds.emplace_back(w.pdf(QStringLiteral("paper %1.pdf").arg(i)), QStringLiteral("Paper %1").arg(i),
                           minutesAgo(10 + i));
    w.make(seeds);
    LaunchTasks tasks(w.documents, w.h.defaults);
    tasks.showWelcome = [&] { w.controller->show(); };
    tasks.perform();
    ASSERT_NE(w.controller->window(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.controller->window()));
    EXPECT_EQ(w.view().width(), 640);

    // The eight newest files that are there, newest first, four to a row.
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().recents().size() == 8; }));
    CardGrid* cards = w.view().recentCards();
    ASSERT_EQ(cards->count(), 8);
    QStringList names;
    for (int i = 0; i < cards->count(); ++i) names << cards->card(i)->item().name;
    EXPECT_EQ(names, QStringList(
                         {"report.final", "locked", "damaged", "Paper 0", "Paper 1", "Paper 2", "Paper 3", "Paper 4"}));
    EXPECT_EQ(cards->card(0)->accessibleName(), "report.final, Today");
    EXPECT_EQ(cards->card(4)->geometry().width(), cards->card(0)->geometry().width());
    EXPECT_GT(cards->card(4)->geometry().top(), cards->card(0)->geometry().bottom());
    // The window fits them, menu bar included.
    EXPECT_EQ(w.controller->window()->height(), w.controller->window()->menuBar()->height() + w.view().height());

    // First pages for cards on screen, drawn off the UI thread; a lock for the
    // encrypted PDF, the document symbol for the damaged file.
    const auto thumbnail = [&](int card) { return w.thumbnails.thumbnail(cards->card(card)->item().key); };
    ASSERT_TRUE(testsupport::waitFor([&] {
        for (int i = 0; i < cards->count(); ++i)
            if (!thumbnail(i)) return false;
        return true;
    }));
    if (testsupport::confinedReaderRuns) {
        EXPECT_EQ(thumbnail(0)->kind, Thumbnail::Kind::image);
        EXPECT_EQ(thumbnail(0)->image.size(), QSize(216, 280)); // a letter page fitted into 240 × 280
        EXPECT_EQ(thumbnail(0)->image.pixelColor(100, 100), QColor(Qt::white));
        EXPECT_EQ(thumbnail(1)->kind, Thumbnail::Kind::locked);
    }
    EXPECT_EQ(thumbnail(2)->kind, Thumbnail::Kind::unreadable);

    // A card whose file went away since: said in the banner, the cards reload.
    QFile::remove(w.h.dir.filePath("files/report.final.pdf"));
    QTest::mouseClick(cards->card(0), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().problem().has_value(); }));
    EXPECT_EQ(*w.view().problem(), quarnkit::OpenProblem::moved(w.h.dir.filePath("files/report.final.pdf")));
    EXPECT_EQ(w.view().problem()->detail, "It's still in History, where you can locate it.");
    EXPECT_TRUE(w.view().problemBanner()->isVisible());
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().recents().front().name == "locked"; }));
    EXPECT_TRUE(w.opened.empty());

    // A card that is there opens, and the banner goes.
    QTest::mouseClick(cards->card(3), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.opened.size() == 1; }));
    EXPECT_FALSE(w.view().problem().has_value());

    // Its menu removes it from History.
    QMenu* menu = cards->card(0)->makeMenu();
    QStringList items;
    for (QAction* action : menu->actions()) items << action->text();
    EXPECT_EQ(items, QStringList({"Open", "Show in Folder", "Copy Path", "", "Remove from History"}));
    menu->actions().last()->trigger();
    delete menu;
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().recents().front().name == "damaged"; }));
    EXPECT_FALSE(w.h.library->store().entryForPath(locked));
}

TEST(WelcomeWindow, TypingSearchesAndReturnOpensTheFirstResult)
{
    Welcome w;
    w.find("Documents/tax 2023.pdf");
    w.find("Downloads/tax notes.pdf");
    w.find("Documents/holiday.pdf");
    w.make();
    w.show();
    // Nothing recent: the drop box.
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().dropBox()->isVisible(); }));
    EXPECT_EQ(w.view().dropBox()->hint(), "PDFs you open show up here.");
    const int restingHeight = w.controller->window()->height();

    // Spaces are no search; words are.
    QTest::mouseClick(w.view().searchField(), Qt::LeftButton);
    w.type("  ");
    EXPECT_FALSE(w.view().isSearching());
    EXPECT_FALSE(w.view().search().isActive());
    w.type("tax");
    ASSERT_TRUE(w.view().isSearching());
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().resultCards()->count() == 2; }));
    EXPECT_TRUE(w.view().resultsSection()->isVisible());
    EXPECT_FALSE(w.view().dropBox()->isVisible());
    // The window grew for the results, downward from where it was.
    ASSERT_TRUE(testsupport::waitFor([&] { return w.controller->window()->height() > restingHeight; }));
    EXPECT_TRUE(w.view().resultCards()->card(1)->item().subtitle.endsWith("/files/Downloads"));

    // Return opens the first result.
    QTest::keyClick(w.window(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.opened.size() == 1; }));
    EXPECT_EQ(w.opened.front(), w.view().search().items().front().path);

    // A result whose file has gone: a sentence that does not send the user to History.
    const RecentItem gone = w.view().resultCards()->card(1)->item();
    QFile::remove(gone.path);
    QTest::mouseClick(w.view().resultCards()->card(1), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().problem().has_value(); }));
    EXPECT_EQ(w.view().problem()->title, "“tax notes” was moved or deleted.");
    EXPECT_EQ(w.view().problem()->detail, "It's no longer where the search found it.");
    EXPECT_EQ(w.opened.size(), 1u);
    QTest::mouseClick(w.view().problemBanner()->dismissButton(), Qt::LeftButton);
    EXPECT_FALSE(w.view().problemBanner()->isVisible());

    // Hidden, the search stops; shown again with its words, it runs again.
    w.controller->hide();
    EXPECT_FALSE(w.view().search().isActive());
    w.show();
    EXPECT_TRUE(w.view().search().isActive());
    // Escape in the field empties it: the drop box is back.
    QTest::mouseClick(w.view().searchField(), Qt::LeftButton);
    QTest::keyClick(w.window(), Qt::Key_Escape);
    EXPECT_FALSE(w.view().isSearching());
    EXPECT_FALSE(w.view().search().isActive());
    EXPECT_TRUE(w.view().dropBox()->isVisible());
}

// Low on the screen, the window that grows for the search results moves up
// as far as it must to stay on the screen, never above its top.
TEST(WelcomeWindow, GrowingForResultsKeepsTheWindowOnTheScreen)
{
    Welcome w;
    w.find("Documents/tax 2023.pdf");
    w.make();
    w.show();
    QWidget* window = w.controller->window();
    const QRect screen = window->screen()->availableGeometry();
    window->move(window->x(), screen.bottom() + 1 - window->frameGeometry().height() - 20);
    const int restingHeight = window->height();

    QTest::mouseClick(w.view().searchField(), Qt::LeftButton);
    w.type("tax");
    ASSERT_TRUE(testsupport::waitFor([&] { return window->height() > restingHeight; }));
    EXPECT_TRUE(testsupport::waitFor([&] {
        const QRect frame = window->frameGeometry();
        return frame.top() >= screen.top() && (frame.bottom() <= screen.bottom() || frame.top() == screen.top());
    })) << window->frameGeometry().top()
        << "+" << window->frameGeometry().height() << " on " << screen.height();
}

TEST(WelcomeWindow, DroppingAPdfOpensItAndTheWelcomeWindowGoes)
{
    Welcome w;
    w.make({}, true);
    w.show();
    // Not a file at all: refused.
    EXPECT_FALSE(w.drop({QUrl("https://example.com/a.pdf")}));
    // A damaged PDF: said in the banner, never as an alert; the window stays.
    EXPECT_TRUE(w.drop({QUrl::fromLocalFile(w.h.write("broken.pdf", "no PDF here"))}));
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().problem().has_value(); }));
    EXPECT_EQ(w.view().problem()->title, "ravlen couldn't open “broken”.");
    EXPECT_TRUE(w.controller->window()->isVisible());
    EXPECT_FALSE(w.view().isTargeted());

    const QString paper = w.pdf("paper.pdf", "A Paper");
    EXPECT_TRUE(w.drop({QUrl::fromLocalFile(paper), QUrl::fromLocalFile(w.h.write("notes.txt", "text"))}));
    ASSERT_TRUE(testsupport::waitFor([&] { return w.documents.windows().size() == 1; }));
    EXPECT_EQ(w.documents.windows().front()->filePath(), paper);
    EXPECT_FALSE(w.controller->window()->isVisible());
    ASSERT_EQ(w.h.library->entries().size(), 1u);
    EXPECT_EQ(w.h.library->entries().front().title, "A Paper");
}

TEST(WelcomeWindow, UseRavlenForPdfsAsksFirstThenTakesTheRole)
{
    Welcome w;
    w.make();
    w.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().statusLabel()->text() == "Document Viewer opens PDFs."; }));
    ASSERT_TRUE(w.view().useButton()->isVisible());

    // Cancelled: nothing changes, nothing is reported, the refusal is kept.
    QTest::mouseClick(w.view().useButton(), Qt::LeftButton);
    QMessageBox* box = question();
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return quarnkit::DefaultPDFHandler::declined(w.h.defaults); }));
    EXPECT_EQ(w.desktop.queryDefault(), "evince.desktop");
    EXPECT_FALSE(w.view().problem().has_value());

    // Accepted: the desktop now names ravlen, and the row says so.
    QTest::mouseClick(w.view().useButton(), Qt::LeftButton);
    box = question();
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(buttonTitled(box, "Use ravlen"), Qt::LeftButton);
    ASSERT_TRUE(
        testsupport::waitFor([&] { return w.view().statusLabel()->text() == "ravlen opens PDFs on this computer."; }));
    EXPECT_EQ(w.desktop.queryDefault(), "ravlen.desktop");
    EXPECT_FALSE(w.view().useButton()->isVisible());
    EXPECT_FALSE(quarnkit::DefaultPDFHandler::declined(w.h.defaults));

    // A desktop that will not change: the banner says why.
    QFile::remove(w.desktop.dir.filePath("default-pdf"));
    QFile(w.desktop.dir.filePath("refuse")).open(QIODevice::WriteOnly);
    w.view().refresh();
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().useButton()->isVisible(); }));
    QTest::mouseClick(w.view().useButton(), Qt::LeftButton);
    box = question();
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(buttonTitled(box, "Use ravlen"), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().problem().has_value(); }));
    EXPECT_EQ(*w.view().problem(), (quarnkit::OpenProblem{"ravlen couldn't become the default PDF app.",
                                                          "xdg-mime: the default cannot be changed"}));
}

// The desktop's own xdg-mime, with another PDF application installed:
// "Use ravlen for PDFs" makes ravlen the default that xdg-mime then reports,
// so the row says so and the link goes.
TEST(WelcomeWindow, UseRavlenForPdfsTakesTheRoleAsTheDesktopReadsIt)
{
    Welcome w;
    w.make();
    // Past the stand-in, on a desktop xdg-mime knows nothing special of.
    const QByteArray path = qgetenv("PATH");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const QByteArray current = qgetenv("XDG_CURRENT_DESKTOP");
    const QByteArray session = qgetenv("DESKTOP_SESSION");
    qputenv("PATH", w.desktop.oldPath);
    ASSERT_FALSE(QStandardPaths::findExecutable("xdg-mime").isEmpty()) << "xdg-utils is needed";
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(w.desktop.dir.filePath("config")));
    qunsetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("DESKTOP_SESSION");
    testsupport::writeFile(w.desktop.dir.filePath("data/applications/evince.desktop"),
                           "[Desktop Entry]\nType=Application\nName=Document Viewer\nExec=/bin/true %U\n"
                           "MimeType=application/pdf;\n");
    w.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().statusLabel()->text() == "Document Viewer opens PDFs."; }));

    QTest::mouseClick(w.view().useButton(), Qt::LeftButton);
    QMessageBox* box = question();
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(buttonTitled(box, "Use ravlen"), Qt::LeftButton);
    EXPECT_TRUE(testsupport::waitFor([&] {
        return w.view().statusLabel()->text() == "ravlen opens PDFs on this computer.";
    })) << w.view().statusLabel()->text().toStdString();
    EXPECT_FALSE(w.view().useButton()->isVisible());
    EXPECT_FALSE(w.view().problem().has_value());

    qputenv("PATH", path);
    for (const auto& [name, value] : {std::pair{"XDG_CONFIG_HOME", config}, std::pair{"XDG_CURRENT_DESKTOP", current},
                                      std::pair{"DESKTOP_SESSION", session}})
        if (value.isEmpty()) qunsetenv(name);
        else qputenv(name, value);
}

TEST(WelcomeWindow, ClearingTheHistoryLeavesTheDropBoxAndShrinksDownward)
{
    Welcome w;
    w.make({{w.pdf("a.pdf")}, {w.pdf("b.pdf")}});
    w.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().recents().size() == 2; }));
    QMainWindow* window = w.controller->window();
    // Once the window holds what it shows, cards at their full height.
    const auto fitted = [&] {
        const RecentCard* card = w.view().recentCards()->card(0);
        const bool cardsFit = !card || !card->isVisible() || card->height() == card->sizeHint().height();
        return cardsFit && window->height() == window->menuBar()->height() + w.view().height();
    };
    ASSERT_TRUE(testsupport::waitFor(fitted));
    const QPoint topLeft = window->pos();
    const int height = window->height();

    QTest::mouseClick(w.view().clearButton(), Qt::LeftButton);
    QMessageBox* box = question();
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(buttonTitled(box, "Clear History"), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().recents().empty(); }));
    EXPECT_TRUE(w.h.library->entries().empty());
    EXPECT_TRUE(w.view().dropBox()->isVisible());
    ASSERT_TRUE(testsupport::waitFor([&] { return fitted() && window->height() < height; }));
    EXPECT_EQ(window->pos(), topLeft);

    // Put away and shown again: centred a little above the middle of the screen.
    window->move(topLeft + QPoint(40, 40));
    w.controller->hide();
    w.show();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_NEAR(window->frameGeometry().center().x(), screen.center().x(), 1);
    EXPECT_NEAR(window->frameGeometry().center().y(), screen.center().y() - screen.height() * 0.06, 1);
}

TEST(WelcomeWindow, WithoutADocumentWindowTheLibraryKeysAndTheWindowMenuShowIt)
{
    // The application's own welcome window, as the menus of every window reach it.
    StandInDesktop desktop;
    Library h;
    DocumentController controller;
    controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    DocumentWindow* document = controller.openDocument(h.write("paper.pdf", titledPdf("Paper", 1)));
    ASSERT_NE(document, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(document));
    QTest::keyClick(document->windowHandle(), Qt::Key_1, Qt::ControlModifier | Qt::ShiftModifier);
    WelcomeController& welcome = WelcomeController::shared();
    ASSERT_NE(welcome.window(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(welcome.window()));
    EXPECT_TRUE(controller.closeAll());

    // Its own History item shows it without the keys in the search; Explore with them.
    LibrarySearchField* field = welcome.window()->view()->searchField();
    auto* items = welcome.window()->findChild<LibraryMenuItems*>();
    ASSERT_NE(items, nullptr);
    field->clearFocus();
    QTest::keyClick(welcome.window()->windowHandle(), Qt::Key_Y, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_FALSE(field->hasFocus());
    EXPECT_TRUE(welcome.window()->isVisible());
    QTest::keyClick(welcome.window()->windowHandle(), Qt::Key_F, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(testsupport::waitFor([&] { return field->hasFocus(); }));
    EXPECT_FALSE(items->history()->isChecked());
    EXPECT_FALSE(items->explore()->isChecked());
    welcome.hide();
}

TEST(WelcomeWindow, FirstShownTheKeysStayOutOfTheSearchAndShownAgainItReadsItsRowsAgain)
{
    Welcome w;
    const QString kept = w.pdf("kept.pdf");
    const QString later = w.pdf("later.pdf");
    w.make({{kept, std::nullopt, minutesAgo(1)}, {later, std::nullopt, minutesAgo(2)}});
    w.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().recents().size() == 2; }));
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().statusLabel()->text() == "Document Viewer opens PDFs."; }));
    QApplication::processEvents();
    EXPECT_FALSE(w.view().searchField()->hasFocus());

    // Changed behind its back, then shown while on screen: read again.
    QFile::remove(later);
    testsupport::writeFile(w.desktop.dir.filePath("default-pdf"), "ravlen.desktop\n");
    w.controller->show();
    EXPECT_TRUE(testsupport::waitFor([&] { return w.view().recents().size() == 1; }));
    EXPECT_TRUE(
        testsupport::waitFor([&] { return w.view().statusLabel()->text() == "ravlen opens PDFs on this computer."; }));
    EXPECT_FALSE(w.view().searchField()->hasFocus());
}

TEST(WelcomeWindow, AScreenReaderOpensShowsAndRemovesCards)
{
    Welcome w;
    const QString paper = w.pdf("paper.pdf");
    w.make({{paper, std::nullopt, minutesAgo(1)}, {w.pdf("other.pdf"), std::nullopt, minutesAgo(2)}});
    w.find("found.pdf");
    w.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().recents().size() == 2; }));
    const auto element = [](RecentCard* card) { return QAccessible::queryAccessibleInterface(card); };
    const QString press = QAccessibleActionInterface::pressAction();

    QAccessibleInterface* recent = element(w.view().recentCards()->card(0));
    EXPECT_EQ(recent->text(QAccessible::Name), "paper, Today");
    EXPECT_EQ(recent->role(), QAccessible::Button);
    EXPECT_EQ(recent->childCount(), 0);
    EXPECT_EQ(recent->actionInterface()->actionNames(), QStringList({press, "Show in Folder", "Remove from History"}));
    recent->actionInterface()->doAction(press);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.opened.size() == 1; }));
    EXPECT_EQ(w.opened.front(), paper);
    testsupport::UrlCatcher catcher;
    recent->actionInterface()->doAction("Show in Folder");
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return catcher.opened() == QList<QUrl>{QUrl::fromLocalFile(QFileInfo(paper).path())}; }));
    recent->actionInterface()->doAction("Remove from History");
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().recents().size() == 1; }));
    EXPECT_FALSE(w.h.library->store().entryForPath(paper));

    // A search result is no recent: nothing to remove.
    QTest::mouseClick(w.view().searchField(), Qt::LeftButton);
    w.type("found");
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().resultCards()->count() == 1; }));
    EXPECT_EQ(element(w.view().resultCards()->card(0))->actionInterface()->actionNames(),
              QStringList({press, "Show in Folder"}));
}

TEST(WelcomeWindow, KeepingAHistorySwitchedInSettingsReachesEveryViewAtOnce)
{
    Welcome w;
    w.make();
    w.show();
    LibraryThumbnails thumbnails(w.h.dir.filePath("thumbnails"));
    HistoryPanel panel(*w.h.library, nullptr, nullptr, &thumbnails);
    panel.show();
    SettingsServices services;
    services.setKeepHistory = [&](bool on) { w.h.library->setKeepHistory(on); };
    services.historyCount = [&] { return int(w.h.library->entries().size()); };
    SettingsView settings(w.h.defaults, w.h.positions, services);
    // As the application wires Settings to its library.
    QObject::connect(w.h.library.get(), &quarnkit::HistoryLibrary::keepHistoryChanged, &settings,
                     &SettingsView::refreshHistory);
    settings.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&settings));
    QAbstractButton* keep = nullptr;
    for (QAbstractButton* button : settings.findChildren<QAbstractButton*>())
        if (button->isCheckable() && button->accessibleName() == "Keep a history of opened PDFs") keep = button;
    ASSERT_NE(keep, nullptr);
    EXPECT_EQ(w.view().dropBox()->hint(), "PDFs you open show up here.");

    QTest::mouseClick(keep, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(w.h.library->keepHistory());
    ASSERT_NE(panel.message(), nullptr);
    EXPECT_EQ(panel.message()->title(), "History is off");
    EXPECT_EQ(w.view().dropBox()->hint(), "History is off, so recent PDFs don't show here.");

    // Turned on again from the panel: Settings and the welcome window follow.
    QTest::mouseClick(panel.message()->action(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_TRUE(keep->isChecked());
    EXPECT_EQ(panel.message()->title(), "No history yet");
    EXPECT_EQ(w.view().dropBox()->hint(), "PDFs you open show up here.");
}

// "Use ravlen for PDFs" clicked and its question answered with Return: back
// in the welcome window, no focus ring frames the whole of its content.
TEST(WelcomeWindow, AnsweringTheDefaultAppQuestionLeavesNoRingRoundTheWindow)
{
    focusring::install();
    Welcome w;
    w.make();
    w.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().statusLabel()->text() == "Document Viewer opens PDFs."; }));
    QWidget* window = w.view().window();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    QTest::mouseClick(w.view().useButton(), Qt::LeftButton);
    QMessageBox* box = question();
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return box->isActiveWindow(); }));
    QTest::keyClick(box->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(
        testsupport::waitFor([&] { return w.view().statusLabel()->text() == "ravlen opens PDFs on this computer."; }));
    // The window manager gives the welcome window the keys again.
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == w.view().openButton(); }));
    QApplication::processEvents();
    // Answered by keyboard, the ring may mark the control with the keys, never the whole view.
    EXPECT_TRUE(focusring::target() == nullptr || focusring::target() == w.view().openButton());
    QWidget* ring = window->findChild<QWidget*>(QStringLiteral("focusRing"));
    EXPECT_TRUE(ring == nullptr || !ring->isVisible() || focusring::target() == w.view().openButton());
}

// A keyboard-only user: the window opens with the keys on a named control,
// Tab reaches every card in reading order with the ring round it, the arrows
// move across and down the grid, Return opens, Delete and the menu key offer
// the card's menu, and the version in the footer is a stop that Space presses.
TEST(WelcomeWindow, TheKeysReachOpenAndRemoveTheCards)
{
    focusring::install();
    Welcome w;
    std::vector<Library::Seed> seeds;
    for (int i = 0; i < 6; ++i)
        seeds.emplace_back(w.pdf(QStringLiteral("paper %1.pdf").arg(i)), QStringLiteral("Paper %1").arg(i),
                           minutesAgo(1 + i));
    w.make(seeds);
    w.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().recents().size() == 6; }));
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().statusLabel()->text() == "Document Viewer opens PDFs."; }));
    QWidget* window = w.controller->window();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_EQ(focusedName(window), "Open PDF");

    QStringList stops;
    for (int i = 0; i < 10; ++i) {
        QTest::keyClick(w.window(), Qt::Key_Tab);
        stops << focusedName(window);
    }
    EXPECT_EQ(stops, QStringList({"Find a PDF on this computer", "Clear", "Paper 0, Today", "Paper 1, Today",
                                  "Paper 2, Today", "Paper 3, Today", "Paper 4, Today", "Paper 5, Today",
                                  "Use ravlen for PDFs", "Version " + quarnkit::appShortVersion()}));
    QTest::keyClick(w.window(), Qt::Key_Space);
    EXPECT_EQ(w.updatesShown, 1);

    // Back to the first card: the ring is round it.
    CardGrid* cards = w.view().recentCards();
    for (int i = 0; i < 7; ++i) QTest::keyClick(w.window(), Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_TRUE(cards->card(0)->hasFocus());
    ASSERT_TRUE(testsupport::waitFor([&] { return focusring::target() == cards->card(0); }));
    EXPECT_TRUE(window->findChild<QWidget*>(QStringLiteral("focusRing"))->isVisible());

    // Four to a row, two rows: the arrows stop at the edges, and down from
    // above the short last row lands on its last card.
    const struct {
        Qt::Key key;
        int card;
    } moves[] = {{Qt::Key_Left, 0},  {Qt::Key_Up, 0},    {Qt::Key_Right, 1}, {Qt::Key_Down, 5},
                 {Qt::Key_Down, 5},  {Qt::Key_Right, 5}, {Qt::Key_Up, 1},    {Qt::Key_Right, 2},
                 {Qt::Key_Right, 3}, {Qt::Key_Down, 5},  {Qt::Key_Left, 4},  {Qt::Key_Left, 3}};
    for (const auto& move : moves) {
        QTest::keyClick(w.window(), move.key);
        EXPECT_TRUE(cards->card(move.card)->hasFocus()) << move.key << " to " << move.card;
    }
    ASSERT_TRUE(testsupport::waitFor([&] { return focusring::target() == cards->card(3); }));

    // The menu key offers the card's menu; put away with Escape, the keys are
    // the card's again and Return opens it. Delete offers the menu too, and
    // its last item removes the card.
    QTest::keyClick(w.window(), Qt::Key_Menu);
    QMenu* menu = cards->card(3)->shownMenu();
    ASSERT_TRUE(menu && testsupport::waitFor([&] { return menu->isVisible(); }));
    EXPECT_EQ(accessibletest::focusedMenuItems(menu), QStringList{"Open"});
    QTest::keyClick(menu, Qt::Key_Escape);
    ASSERT_TRUE(testsupport::waitFor([&] { return !menu->isVisible(); }));
    QTest::keyClick(w.window(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.opened.size() == 1; }));
    EXPECT_EQ(QFileInfo(w.opened.front()).fileName(), "paper 3.pdf");
    QTest::keyClick(w.window(), Qt::Key_Delete);
    menu = cards->card(3)->shownMenu();
    ASSERT_TRUE(menu && testsupport::waitFor([&] { return menu->isVisible(); }));
    QTest::keyClick(menu, Qt::Key_Up);
    QTest::keyClick(menu, Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.view().recents().size() == 5; }));
    EXPECT_FALSE(w.h.library->store().entryForPath(w.h.dir.filePath("files/paper 3.pdf")));
}

// While a search shows results, a screen reader meets only those: no cards
// of an earlier, longer search and no empty state behind them; Tab goes from
// the field to the first card, the arrows move through the grid, scrolling
// it, and Return opens the card that has the keys.
TEST(WelcomeWindow, TheKeysAndAScreenReaderMeetOnlyTheResultsShown)
{
    Welcome w;
    for (int i = 0; i < 14; ++i) w.find(QStringLiteral("Documents/tax %1.pdf").arg(i));
    w.make();
    w.show();
    QWidget* window = w.controller->window();
    CardGrid* cards = w.view().resultCards();
    QTest::mouseClick(w.view().searchField(), Qt::LeftButton);
    w.type("zzz");
    ASSERT_TRUE(testsupport::waitFor([&] { return accessibleNames(window).join('|').contains("No PDFs match"); }));
    for (int i = 0; i < 3; ++i) QTest::keyClick(w.window(), Qt::Key_Backspace);
    w.type("tax");
    ASSERT_TRUE(testsupport::waitFor([&] { return cards->count() == 14; }));
    w.type(" 1");
    ASSERT_TRUE(testsupport::waitFor([&] { return cards->count() == 5; })); // 1, 10 to 13
    const QString names = accessibleNames(window).join('|');
    EXPECT_FALSE(names.contains("No PDFs match")) << names.toStdString();
    EXPECT_FALSE(names.contains("tax 5")) << names.toStdString();
    EXPECT_EQ(names.count("tax 13"), 1) << names.toStdString();
    // Nor the recents section, the drop box or a banner put away.
    EXPECT_FALSE(names.contains("Drop a PDF here"));

    for (int i = 0; i < 2; ++i) QTest::keyClick(w.window(), Qt::Key_Backspace);
    ASSERT_TRUE(testsupport::waitFor([&] { return cards->count() == 14; }));
    QTest::keyClick(w.window(), Qt::Key_Tab);
    EXPECT_EQ(focusedName(window), "Clear"); // the field's own
    QTest::keyClick(w.window(), Qt::Key_Tab);
    ASSERT_TRUE(cards->card(0)->hasFocus()) << focusedName(window).toStdString();
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(cards->card(0))->state().focusable);
    for (int i = 0; i < 3; ++i) QTest::keyClick(w.window(), Qt::Key_Down);
    RecentCard* card = cards->card(12);
    ASSERT_TRUE(card->hasFocus());
    // Scrolled so that the card is whole in the results area.
    QScrollArea* area = nullptr;
    for (QWidget* up = card; up && !area; up = up->parentWidget()) area = qobject_cast<QScrollArea*>(up);
    ASSERT_NE(area, nullptr);
    EXPECT_GT(area->verticalScrollBar()->value(), 0);
    const QRect shown(card->mapTo(area->viewport(), QPoint(0, 0)), card->size());
    EXPECT_TRUE(area->viewport()->rect().contains(shown)) << shown.top() << " " << shown.bottom();
    QTest::keyClick(w.window(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.opened.size() == 1; }));
    EXPECT_EQ(w.opened.front(), card->item().path);
}

// The drop box lights up, the "Drop to open" highlight over the recents comes
// and goes, a card's outline follows the pointer and a first page fades in,
// each easing out from where it stood (0.15 s, 0.15 s, 0.15 s, 0.2 s); with
// less motion asked for by the desktop, each is there at once.
TEST(WelcomeWindow, TheDropBoxCardsAndArrivingPagesEaseUnlessMotionIsReduced)
{
    for (const bool reduced : {false, true}) {
        SCOPED_TRACE(reduced ? "reduced motion" : "full motion");
        motiontest::DesktopMotion motion(reduced);
        const double atOnce = reduced ? 1.0 : 0.0; // how far along each is just after its change

        Welcome bare;
        bare.make();
        bare.show();
        bare.drop({QUrl::fromLocalFile(bare.pdf("dropped.pdf"))}, false);
        EXPECT_EQ(bare.view().dropBox()->lit(), atOnce);
        EXPECT_TRUE(testsupport::waitFor([&] { return bare.view().dropBox()->lit() == 1.0; }));
        EXPECT_FALSE(bare.view().dropOverlayShown());

        // Over the recents, the whole view lights up, and goes out as gently.
        Welcome recent;
        recent.make({{recent.pdf("recent.pdf")}});
        recent.show();
        ASSERT_TRUE(testsupport::waitFor([&] { return recent.view().recents().size() == 1; }));
        EXPECT_FALSE(recent.view().dropOverlayShown());
        recent.drop({QUrl::fromLocalFile(recent.pdf("dropped.pdf"))}, false);
        EXPECT_TRUE(recent.view().dropOverlayShown());
        EXPECT_EQ(recent.view().dropOverlayOpacity(), atOnce);
        EXPECT_TRUE(testsupport::waitFor([&] { return recent.view().dropOverlayOpacity() == 1.0; }));
        QDragLeaveEvent dragLeave;
        QApplication::sendEvent(&recent.view(), &dragLeave);
        EXPECT_EQ(recent.view().dropOverlayShown(), !reduced);
        EXPECT_EQ(recent.view().dropOverlayOpacity(), 1 - atOnce);
        EXPECT_TRUE(testsupport::waitFor([&] { return !recent.view().dropOverlayShown(); }));
        EXPECT_EQ(recent.view().dropOverlayOpacity(), 0.0);

        // A card whose page arrives while it shows.
        RecentThumbnails pages;
        RecentCard card(pages);
        card.setItem({std::nullopt, "/nowhere/paper.pdf", "paper", "Today", "paper|1.0"}, false);
        card.resize(card.sizeHint());
        card.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&card));
        EXPECT_EQ(card.arrival(), 0.0);
        QImage page(216, 280, QImage::Format_RGB32);
        page.fill(Qt::white);
        pages.store({Thumbnail::Kind::image, page}, "paper|1.0");
        EXPECT_EQ(card.arrival(), atOnce);
        EXPECT_TRUE(testsupport::waitFor([&] { return card.arrival() == 1.0; }));
        // Shown again, a page at hand is there at once.
        card.setItem({std::nullopt, "/nowhere/other.pdf", "other", "Today", "other|1.0"}, false);
        card.setItem({std::nullopt, "/nowhere/paper.pdf", "paper", "Today", "paper|1.0"}, false);
        EXPECT_EQ(card.arrival(), 1.0);

        // From rest: wherever the pointer was, it leaves the card first.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&card, &leave);
        ASSERT_TRUE(testsupport::waitFor([&] { return card.hoverAmount() == 0.0; }));
        QEnterEvent hover(QPointF(10, 10), QPointF(10, 10), card.mapToGlobal(QPointF(10, 10)));
        QApplication::sendEvent(&card, &hover);
        EXPECT_EQ(card.hoverAmount(), atOnce);
        EXPECT_TRUE(testsupport::waitFor([&] { return card.hoverAmount() == 1.0; }));
    }
}
