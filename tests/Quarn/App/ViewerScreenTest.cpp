#include "Platform/UserDefaults.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Find/FindModel.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Design/Motion.h"
#include "Quarn/Design/Shake.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Pages/SidebarPane.h"
#include "Quarn/Viewer/StatusBar.h"
#include "Quarn/Forms/FormEditor.h"
#include "Quarn/Forms/FormWatcher.h"
#include "Platform/PdfForms.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "Quarn/Viewer/StateMessages.h"
#include "Quarn/App/ViewerScreen.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"
#include "Quarn/App/ViewerScreenHarness.h"

#include <QUndoStack> // before the view header

#include "Quarn/Viewer/QuarnPDFView.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace quarn;
using quarnkit::QuarnDocument;

using namespace viewertest;

// ---------------------------------------------------------------- content states

TEST(ViewerScreenContent, RulesAreTriedInOrder)
{
    using C = ViewerScreen::Content;
    EXPECT_EQ(ViewerScreen::contentFor(true, false, 0, false), C::locked);
    EXPECT_EQ(ViewerScreen::contentFor(true, true, 3, true), C::document);
    EXPECT_EQ(ViewerScreen::contentFor(false, false, 0, false), C::noPages);
    EXPECT_EQ(ViewerScreen::contentFor(false, false, 3, false), C::unreadable);
    EXPECT_EQ(ViewerScreen::contentFor(false, false, 3, true), C::document);
}

TEST(ViewerScreenContent, DocumentWithoutPagesShowsTheEmptyMessage)
{
    Settings settings;
    QuarnDocument document(platform::PdfDocument::createEmpty());
    auto screen = showScreen(&document, {}, settings);
    EXPECT_EQ(screen->content(), ViewerScreen::Content::noPages);
    ASSERT_NE(screen->message(), nullptr);
    EXPECT_EQ(screen->message()->title(), "This PDF has no pages");
    EXPECT_EQ(screen->message()->detail(), "Add pages from the Pages menu, or open another PDF.");
    EXPECT_EQ(screen->message()->actions(), nullptr);
    EXPECT_EQ(screen->pageViewHost(), nullptr);
    EXPECT_FALSE(screen->documentReady());
}

TEST(ViewerScreenContent, UnreadableMessageOffersTheFolderOnlyWithAFile)
{
    auto* button = new QuietButton("Show in Folder");
    StateMessage withFile("exclamationmark.triangle", "ravlen can't read this PDF",
                          "The file may be damaged or incomplete. Try opening a fresh copy.", button);
    EXPECT_EQ(withFile.title(), "ravlen can't read this PDF");
    EXPECT_EQ(withFile.actions(), button);
    EXPECT_EQ(button->parentWidget(), &withFile);

    StateMessage longDetail("doc", "Title", QString("word ").repeated(200));
    longDetail.resize(800, 600);
    longDetail.show();
    auto* detail = longDetail.findChildren<QLabel*>().last();
    EXPECT_LE(detail->width(), 340);
    EXPECT_TRUE(detail->wordWrap());
    EXPECT_GT(detail->height(), 100); // grown, not cut
}

TEST(ViewerScreenContent, DeletingEveryPageTurnsIntoTheEmptyMessage)
{
    Settings settings;
    QuarnDocument document; // one blank page
    auto screen = showScreen(&document, {}, settings);
    EXPECT_EQ(screen->content(), ViewerScreen::Content::document);
    ASSERT_NE(screen->pageViewHost(), nullptr);
    EXPECT_TRUE(screen->documentReady());
}

TEST(ViewerScreenContent, ToolbarTogglesTheSidebarAndFind)
{
    Settings settings;
    QuarnDocument document;
    auto screen = showScreen(&document, {}, settings);
    ChromeToolButton* sidebar = nullptr;
    ChromeToolButton* find = nullptr;
    for (auto* button : screen->findChildren<ChromeToolButton*>()) {
        if (button->symbol() == "sidebar.left") sidebar = button;
        if (button->symbol() == "magnifyingglass") find = button;
    }
    ASSERT_TRUE(sidebar && find);
    EXPECT_EQ(sidebar->toolTip(), "Sidebar (Ctrl+Alt+S)"); // the key from the shortcut table
    EXPECT_TRUE(sidebar->isChosen());
    QTest::mouseClick(sidebar, Qt::LeftButton);
    EXPECT_FALSE(PagesModel::of(screen->model()).sidebar());
    EXPECT_FALSE(sidebar->isChosen());
    QTest::mouseClick(find, Qt::LeftButton);
    EXPECT_TRUE(FindModel::of(screen->model()).presented());
    EXPECT_TRUE(find->isChosen());
    QTest::mouseClick(find, Qt::LeftButton);
    EXPECT_FALSE(FindModel::of(screen->model()).presented());
}

// ---------------------------------------------------------------- password gate

TEST(LockedGate, WrongPasswordShakesAndShowsTheErrorThenTheRightOneOpens)
{
    Settings settings;
    auto document = QuarnDocument::open(corpus("libreoffice-writer-password.pdf"));
    auto screen = showScreen(document.get(), corpus("libreoffice-writer-password.pdf"), settings);
    ASSERT_EQ(screen->content(), ViewerScreen::Content::locked);
    LockedGate* gate = screen->gate();
    ASSERT_NE(gate, nullptr);

    // Empty: the button is disabled and Return does nothing.
    EXPECT_FALSE(gate->unlockButton()->isEnabled());
    QTest::keyClick(gate->field(), Qt::Key_Return);
    EXPECT_FALSE(gate->failed());
    EXPECT_EQ(gate->attempts(), 0);

    QTest::keyClicks(gate->field(), "nope");
    EXPECT_TRUE(gate->unlockButton()->isEnabled());
    EXPECT_TRUE(gate->errorLine()->isHidden());
    QTest::keyClick(gate->field(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return gate->failed(); })); // tried on a worker
    EXPECT_FALSE(gate->errorLine()->isHidden());
    EXPECT_EQ(gate->errorLine()->text(), "That password didn't work. Try again.");
    EXPECT_EQ(gate->attempts(), 1);
    EXPECT_TRUE(gate->shake()->isShaking());
    EXPECT_TRUE(document->isLocked());
    // The typed password stays, selected, so that typing replaces it.
    EXPECT_EQ(gate->field()->text(), "nope");
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->field()->selectedText() == "nope"; }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !gate->shake()->isShaking(); }));
    EXPECT_NEAR(gate->shake()->offset(), 0, 1e-9);

    // A second wrong one shakes again; the line stays.
    QTest::mouseClick(gate->unlockButton(), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return gate->attempts() == 2; }));
    EXPECT_TRUE(gate->failed());

    // Typing hides the line at once, before any attempt.
    QTest::keyClicks(gate->field(), "o");
    EXPECT_FALSE(gate->failed());
    EXPECT_TRUE(gate->errorLine()->isHidden());

    gate->field()->setText("openpassword");
    QTest::mouseClick(gate->unlockButton(), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return !document->isLocked(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return screen->content() == ViewerScreen::Content::document; }));
    ASSERT_NE(screen->pageViewHost(), nullptr);
    EXPECT_GT(screen->pageViewHost()->view()->pageCount(), 0);
    EXPECT_TRUE(screen->documentReady());
}

TEST(LockedGate, ReducedMotionOnTheDesktopShowsTheErrorWithoutMoving)
{
    // The desktops' own settings: GNOME's key through gsettings, KDE's file.
    QTemporaryDir desktop;
    {
        QFile gsettings(desktop.filePath("gsettings"));
        ASSERT_TRUE(gsettings.open(QIODevice::WriteOnly));
        gsettings.write("#!/bin/sh\necho false\n");
        gsettings.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QFile kde(desktop.filePath("kdeglobals"));
        ASSERT_TRUE(kde.open(QIODevice::WriteOnly));
        kde.write("[KDE]\nAnimationDurationFactor=0\n");
    }
    const QByteArray path = qgetenv("PATH"), config = qgetenv("XDG_CONFIG_HOME"),
                     session = qgetenv("XDG_CURRENT_DESKTOP");
    const struct {
        const char* desktop;
        QByteArray path;
    } desktops[] = {{"GNOME", QFile::encodeName(desktop.path()) + ":" + path}, {"KDE", "/nonexistent"}};
    for (const auto& d : desktops) {
        SCOPED_TRACE(d.desktop);
        qputenv("XDG_CURRENT_DESKTOP", d.desktop);
        qputenv("PATH", d.path);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(desktop.path()));
        motion::readNow();
        qputenv("PATH", path);
        qputenv("XDG_CONFIG_HOME", config);
        qputenv("XDG_CURRENT_DESKTOP", session);

        int unlocks = 0;
        LockedGate gate([](const QString& password, const LockedGate::Answer& answer) { answer(password == "right"); },
                        [&] { ++unlocks; });
        gate.show();
        QTest::keyClicks(gate.field(), "wrong");
        QTest::keyClick(gate.windowHandle(), Qt::Key_Return);
        EXPECT_TRUE(gate.failed());
        EXPECT_FALSE(gate.errorLine()->isHidden());
        EXPECT_FALSE(gate.shake()->isShaking());
        gate.field()->setText("right");
        QTest::keyClick(gate.windowHandle(), Qt::Key_Return);
        EXPECT_EQ(unlocks, 1);
    }
    motion::readNow(); // this machine's own setting again
}

TEST(LockedGate, ErrorLineKeepsItsPlace)
{
    LockedGate gate([](const QString&, const LockedGate::Answer& answer) { answer(false); }, [] {});
    gate.resize(600, 500);
    gate.show();
    QApplication::processEvents();
    const QPoint before = gate.field()->pos();
    gate.field()->setText("x");
    gate.attempt();
    QApplication::processEvents();
    EXPECT_EQ(gate.field()->pos(), before);
}

// ---------------------------------------------------------------- drops

TEST(ViewerScreenDrop, OnlyPdfFilesAreOpenedEachInTurn)
{
    Settings settings;
    QTemporaryDir dir;
    QuarnDocument document;
    auto screen = showScreen(&document, {}, settings);
    QStringList opened;
    screen->model().openFileHandler = [&](const QString& path) { opened << path; };

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(dir.filePath("picture.png")), QUrl::fromLocalFile(dir.filePath("Report.PDF")),
                  QUrl::fromLocalFile(dir.filePath("notes.txt")), QUrl::fromLocalFile(dir.filePath("b.pdf"))});
    // A drop reaches the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(500, 20), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(screen.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(500, 20), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(screen.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(opened, QStringList({dir.filePath("Report.PDF"), dir.filePath("b.pdf")}));

    // A drop with no file at all is refused.
    QMimeData web;
    web.setUrls({QUrl("https://example.org/a.pdf")});
    EXPECT_FALSE(screen->openDroppedPdfs(&web));
    QMimeData text;
    text.setText("a.pdf");
    EXPECT_FALSE(screen->openDroppedPdfs(&text));
    EXPECT_EQ(opened.size(), 2);
}

// A drag over the window, delivered to the window as the system delivers it
// (Qt's window finds the widget under the pointer and passes the drag up
// from there): one that holds no PDF is offered no drop anywhere; one with
// a PDF is taken over the page and over the chrome alike.
TEST(ViewerScreenDrop, ADragHoldingNoPdfIsRefusedOverTheWholeWindow)
{
    Settings settings;
    QTemporaryDir dir;
    auto document = QuarnDocument::open(writeFile(dir, "shown.pdf", testsupport::makeTextPdf(2)));
    auto screen = showScreen(document.get(), {}, settings);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(screen.get()));
    ASSERT_TRUE(waitForPages(*screen));
    QStringList opened;
    screen->model().openFileHandler = [&](const QString& path) { opened << path; };
    QuarnPDFView* page = screen->pageViewHost()->view();
    const QPoint overPage = page->mapTo(screen.get(), page->rect().center());
    const QPoint overToolbar(500, 20);
    const QPoint overStatusBar(600, screen->height() - 8);

    const auto urls = [&](const QStringList& names) {
        QList<QUrl> list;
        for (const QString& name : names) list << QUrl::fromLocalFile(dir.filePath(name));
        return list;
    };
    const struct {
        const char* drag;
        QStringList files;
        QPoint at;
        bool offered;
        QStringList opens;
    } rows[] = {
        {"a PNG over the page", {"picture.png"}, overPage, false, {}},
        {"a PNG over the toolbar", {"picture.png"}, overToolbar, false, {}},
        {"a PNG and a text over the status bar", {"picture.png", "notes.txt"}, overStatusBar, false, {}},
        {"a PNG then a PDF over the page", {"picture.png", "Report.PDF", "b.pdf"}, overPage, true, {"Report.PDF"}},
        {"a PNG then PDFs over the toolbar",
         {"picture.png", "Report.PDF", "b.pdf"},
         overToolbar,
         true,
         {"Report.PDF", "b.pdf"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.drag);
        opened.clear();
        QMimeData mime;
        mime.setUrls(urls(row.files));
        QDragEnterEvent enter(row.at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(screen->windowHandle(), &enter);
        QDragMoveEvent move(row.at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        if (enter.isAccepted()) {
            move.setDropAction(enter.dropAction());
            move.accept();
        }
        QApplication::sendEvent(screen->windowHandle(), &move);
        EXPECT_EQ(enter.isAccepted() && move.isAccepted(), row.offered);
        if (!move.isAccepted()) {
            QDragLeaveEvent leave;
            QApplication::sendEvent(screen->windowHandle(), &leave);
            continue;
        }
        QDropEvent drop(QPointF(row.at), Qt::CopyAction | Qt::MoveAction, &mime, Qt::NoButton, {});
        QApplication::sendEvent(screen->windowHandle(), &drop);
        EXPECT_TRUE(drop.isAccepted());
        QStringList expected;
        for (const QString& name : row.opens) expected << dir.filePath(name);
        EXPECT_EQ(opened, expected);
    }
}

// ---------------------------------------------------------------- focus

// On a page with form fields Tab moves through the text fields, then on to
// the window's next part; Ctrl+Tab leaves the page for the next part at once, and Ctrl+Shift+Tab for
// the part before it, the typing written as the keys leave. Elsewhere in the
// window they move as Tab and Shift+Tab do, and so lead back to the page.
TEST(ViewerScreenFocus, CtrlTabLeavesAFormsPageAndTabGoesThroughItsFields)
{
    Settings settings;
    auto document = QuarnDocument::open(QString::fromStdString(testsupport::corpusPath("libreoffice-form.pdf")));
    auto screen = showScreen(document.get(), {}, settings);
    QApplication::setActiveWindow(screen.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(screen.get()));
    ASSERT_TRUE(waitForPages(*screen));
    FormWatcher& forms = FormWatcher::of(screen->model());
    ASSERT_TRUE(testsupport::waitFor([&] { return forms.fieldCount() > 0 && !forms.reading(); }));
    QuarnPDFView* page = screen->pageViewHost()->view();
    page->setFocus(Qt::OtherFocusReason);
    QWindow* keys = screen->windowHandle();
    const auto inPage = [&] {
        QWidget* focus = QApplication::focusWidget();
        return focus && (focus == screen->pageViewHost() || screen->pageViewHost()->isAncestorOf(focus));
    };
    const auto editing = [&]() -> std::string {
        const auto field = forms.editor() ? forms.editor()->focusedField() : std::nullopt;
        return field ? field->name : std::string();
    };
    const auto valueOf = [&](const std::string& name) -> std::optional<std::string> {
        for (const auto& w : platform::PdfForms::widgets(*pdfOf(*document)))
            if (w.name == name) return w.value;
        return std::nullopt;
    };
    // The parts around the pages: the status bar after them (the inspector
    // shows nothing with nothing selected), the sidebar before them.
    QWidget* after = screen->statusBar();
    QWidget* before = screen->findChild<SidebarPane*>();
    ASSERT_TRUE(after && before && before->isVisible());
    const auto in = [](QWidget* part) { return part->isAncestorOf(QApplication::focusWidget()); };

    // Tab goes through the fields in reading order, and past the last one
    // on to the part after the page, the typing kept.
    QTest::keyClick(keys, Qt::Key_Tab);
    ASSERT_TRUE(testsupport::waitFor([&] { return editing() == "First Name"; }));
    for (const char* name : {"Last Name", "Birthday", "female", "Nationality", "gdpr", "other", "First Name_2"}) {
        QTest::keyClick(keys, Qt::Key_Tab);
        EXPECT_TRUE(testsupport::waitFor([&] { return editing() == name; })) << name;
        EXPECT_TRUE(inPage());
    }
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Ada"));
    QTest::keyClick(keys, Qt::Key_Tab);
    EXPECT_FALSE(inPage());
    EXPECT_TRUE(in(after));
    EXPECT_EQ(valueOf("First Name_2"), std::optional<std::string>("Ada"));

    // Ctrl+Tab: out to the part after the page from a field too, the typing kept.
    page->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(keys, Qt::Key_Tab);
    ASSERT_TRUE(testsupport::waitFor([&] { return editing() == "First Name"; }));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Ada"));
    QTest::keyClick(keys, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_FALSE(inPage());
    EXPECT_TRUE(in(after));
    EXPECT_EQ(valueOf("First Name"), std::optional<std::string>("Ada"));
    QApplication::processEvents();
    EXPECT_TRUE(in(after)); // the page does not take the keys back

    // Elsewhere Ctrl+Shift+Tab goes back as Shift+Tab does: to the last field.
    QTest::keyClick(keys, Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(testsupport::waitFor([&] { return editing() == "First Name_2"; }));

    // Ctrl+Shift+Tab: out to the part before it, from a field as from the page.
    QTest::keyClick(keys, Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(inPage());
    EXPECT_TRUE(in(before));
    page->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(keys, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(in(before));
    QApplication::processEvents();
    EXPECT_TRUE(in(before));
}

// ---------------------------------------------------------------- reading position

TEST(ViewerScreenReading, PositionIsRestoredAfterClosingAndReopening)
{
    Settings settings;
    QTemporaryDir dir;
    const QString path = writeFile(dir, "ten.pdf", testsupport::makeTextPdf(10));
    {
        auto document = QuarnDocument::open(path);
        auto screen = showScreen(document.get(), path, settings);
        ViewerModel& model = screen->model();
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.isReading(); }));
        // Opening never overwrites a stored position with the first page.
        EXPECT_EQ(settings.positions.count(), 0);
        model.setDisplayMode(quarnkit::DisplayMode::singlePage);
        model.setZoom(1.5);
        screen->pageViewHost()->view()->goToPage(6);
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.pageIndex() == 6; }));
        screen->disappear(); // closing the window saves at once
    }
    const auto fingerprint = quarnkit::FileFingerprint::of(path);
    ASSERT_TRUE(fingerprint.has_value());
    const auto stored = settings.positions.position(*fingerprint);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->page, 6);
    EXPECT_EQ(stored->mode, quarnkit::DisplayMode::singlePage);
    EXPECT_EQ(stored->zoom, quarnkit::ReadingZoom::fixed(1.5));

    auto document = QuarnDocument::open(path);
    auto screen = showScreen(document.get(), path, settings);
    ViewerModel& model = screen->model();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isReading(); }));
    QuarnPDFView* view = screen->pageViewHost()->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->currentPageIndex() == 6; }));
    EXPECT_EQ(model.displayMode(), quarnkit::DisplayMode::singlePage);
    EXPECT_DOUBLE_EQ(view->scaleFactor(), 1.5);
    EXPECT_FALSE(model.zoomFit().has_value());
}

TEST(ViewerScreenReading, ChangedFileOpensAtTheDefaultZoomOnItsFirstPage)
{
    Settings settings;
    QTemporaryDir dir;
    const QString path = writeFile(dir, "doc.pdf", testsupport::makeTextPdf(5));
    {
        auto document = QuarnDocument::open(path);
        auto screen = showScreen(document.get(), path, settings);
        ASSERT_TRUE(QTest::qWaitFor([&] { return screen->model().isReading(); }));
        screen->pageViewHost()->view()->goToPage(3);
        ASSERT_TRUE(QTest::qWaitFor([&] { return screen->model().pageIndex() == 3; }));
        screen->disappear();
    }
    writeFile(dir, "doc.pdf", testsupport::makeTextPdf(6)); // another size: another file
    auto document = QuarnDocument::open(path);
    auto screen = showScreen(document.get(), path, settings);
    ASSERT_TRUE(QTest::qWaitFor([&] { return screen->model().isReading(); }));
    QApplication::processEvents();
    EXPECT_EQ(screen->pageViewHost()->view()->currentPageIndex(), 0);
    EXPECT_EQ(screen->model().zoomFit(), quarnkit::ZoomPreset::fitPage);
}
