#include "Platform/UserDefaults.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/Viewer/DocumentInfoView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/App/ViewerScreen.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>
#include <QWindow>

using namespace quarn;
using quarnkit::DocumentMetadata;
using quarnkit::QuarnDocument;
using Field = DocumentInfoView::Field;
using testsupport::writeFile;

namespace {

QString corpus(const char* name) { return QString::fromStdString(testsupport::corpusPath(name)); }

// A window-less model over a document, recording on the document's stack.
struct Bench {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath("defaults.json")};
    quarnkit::ReadingPositionStore positions{defaults};
    ViewerModel model{&defaults, &positions};
    std::unique_ptr<QuarnDocument> document;
    QUndoStack& stack() { return document->undoStack(); }

    explicit Bench(std::unique_ptr<QuarnDocument> doc, const QString& path = {}) : document(std::move(doc))
    {
        model.setDocument(document.get());
        model.setFilePath(path);
    }
};

void type(QLineEdit* field, const QString& text)
{
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
    QTest::keyClicks(field, text);
}

// Keys as the window system hands them to the window's focused field.
void typeKeys(QWindow* window, const char* text)
{
    for (const char* c = text; *c; ++c) QTest::keyClick(window, *c);
}

} // namespace

// ---------------------------------------------------------------- what the panel shows

TEST(DocumentInfoView, ShowsTheFactsOfAFile)
{
    const QString path = corpus("pdflatex-4-pages.pdf");
    Bench bench(QuarnDocument::open(path), path);
    DocumentInfoView view(&bench.model, bench.document.get());
    EXPECT_EQ(view.fileName(), "pdflatex-4-pages.pdf");
    ASSERT_TRUE(view.fileSize());
    EXPECT_EQ(*view.fileSize(), QFileInfo(path).size());
    EXPECT_TRUE(view.summary().endsWith(", 4 pages")) << view.summary().toStdString();
    ASSERT_TRUE(view.showsFacts());
    EXPECT_TRUE(view.fact("Version").startsWith("PDF 1.")) << view.fact("Version").toStdString();
    EXPECT_FALSE(view.fact("Page size").isEmpty());
    EXPECT_EQ(view.fact("Security"), "Not encrypted");
    EXPECT_EQ(view.fact("Printing"), "Allowed");
    EXPECT_EQ(view.fact("Copying"), "Allowed");
    EXPECT_EQ(view.width(), 340);

    // Short values stand on one line across the column, not wrapped early.
    view.show();
    for (QLabel* label : view.findChildren<QLabel*>())
        if (label->text() == view.fact("Page size")) {
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
            EXPECT_LT(label->height(), label->fontMetrics().lineSpacing() * 2);
        }
    EXPECT_EQ(view.field(Field::keywords)->placeholderText(), "Add keywords, separated by commas");
    EXPECT_EQ(view.field(Field::title)->placeholderText(), "None");
}

// A reader meets each fact named with its label ("Created: Unknown"), not
// four elements called "Unknown"; the panel still shows the value alone.
TEST(DocumentInfoView, AReaderHearsEachFactWithItsLabel)
{
    Bench bench(std::make_unique<QuarnDocument>());
    DocumentInfoView view(&bench.model, bench.document.get());
    view.show();
    ASSERT_TRUE(view.showsFacts());
    EXPECT_EQ(view.fact("Created"), "Unknown");
    QStringList names;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (!node) return;
        if (!node->state().invisible) names << node->text(QAccessible::Name);
        for (int i = 0; i < node->childCount(); ++i) walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(&view));
    for (const char* fact : {"Created: Unknown", "Modified: Unknown", "Creator: Unknown", "Producer: Unknown",
                             "Security: Not encrypted", "Printing: Allowed", "Copying: Allowed"})
        EXPECT_EQ(names.count(QString::fromUtf8(fact)), 1) << fact;
    EXPECT_FALSE(names.contains("Unknown"));
    EXPECT_FALSE(names.contains("Allowed"));
}

TEST(DocumentInfoView, NewDocumentIsUntitledAndNotSaved)
{
    Bench bench(std::make_unique<QuarnDocument>());
    DocumentInfoView view(&bench.model, bench.document.get());
    EXPECT_EQ(view.fileName(), "Untitled.pdf");
    EXPECT_EQ(view.summary(), "Not saved yet, 1 page");
    // A new document records no creator or dates of its own.
    EXPECT_EQ(view.fact("Creator"), "Unknown");
    EXPECT_EQ(view.fact("Created"), "Unknown");
    EXPECT_EQ(DocumentInfoView::summaryLine(std::nullopt, 0), "Not saved yet, 0 pages");
    EXPECT_EQ(DocumentInfoView::summaryLine(std::nullopt, std::nullopt), "Not saved yet, ");
}

TEST(DocumentInfoView, DatesInTheMediumStyleAndLongNamesCutInTheMiddle)
{
    const QLocale before;
    const struct {
        QLocale::Language language;
        QLocale::Territory territory;
        const char* shown;
    } dates[] = {
        {QLocale::English, QLocale::UnitedStates, "Dec 31, 2016, 3:04 PM"},
        {QLocale::German, QLocale::Germany, "31. Dez. 2016, 15:04"},
    };
    for (const auto& row : dates) {
        QLocale::setDefault(QLocale(row.language, row.territory));
        QString date = DocumentInfoView::dateText(QDateTime(QDate(2016, 12, 31), QTime(15, 4, 45)));
        date.replace(QChar(' '), QChar(0x202f)); // either space before the day period
        EXPECT_EQ(date, QString::fromUtf8(row.shown).replace(QChar(' '), QChar(0x202f)));
    }
    QLocale::setDefault(before);
    EXPECT_EQ(DocumentInfoView::dateText(std::nullopt), "Unknown");

    QTemporaryDir dir;
    const QString name = QString("A very long file name ").repeated(6) + "end.pdf";
    const QString path = writeFile(dir, name, testsupport::makeTextPdf(1));
    Bench bench(QuarnDocument::open(path), path);
    DocumentInfoView view(&bench.model, bench.document.get());
    EXPECT_EQ(view.fileName(), name);
    QLabel* shown = nullptr;
    for (QLabel* label : view.findChildren<QLabel*>())
        if (label->toolTip() == name) shown = label;
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->text().startsWith("A very long"));
    EXPECT_TRUE(shown->text().endsWith("end.pdf"));
    EXPECT_TRUE(shown->text().contains(QChar(0x2026)));
}

TEST(DocumentInfoView, LockedDocumentShowsNoFactsAndEmptyFields)
{
    const QString path = corpus("libreoffice-writer-password.pdf");
    Bench bench(QuarnDocument::open(path), path);
    ASSERT_TRUE(bench.document->isLocked());
    DocumentInfoView view(&bench.model, bench.document.get());
    EXPECT_FALSE(view.showsFacts());
    EXPECT_EQ(view.fact("Version"), "");
    for (Field field : {Field::title, Field::author, Field::subject, Field::keywords})
        EXPECT_EQ(view.field(field)->text(), "");
    // Its commits change nothing.
    view.show();
    type(view.field(Field::title), "Locked");
    QTest::keyClick(view.field(Field::title), Qt::Key_Return);
    EXPECT_EQ(bench.stack().count(), 0);
}

TEST(DocumentInfoView, TextFromThePdfIsShownAsItsCharacters)
{
    // A Producer written as markup is shown as the characters it holds.
    QTemporaryDir dir;
    const QString producer = "<h1>Big</h1><b>bold</b>";
    const QString path = writeFile(
        dir, "markup.pdf",
        testsupport::writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
                               "<< /Producer (" + producer.toStdString() + ") >>"},
                              "1.4", "/Info 4 0 R"));
    Bench bench(QuarnDocument::open(path), path);
    DocumentInfoView view(&bench.model, bench.document.get());
    view.show();
    ASSERT_EQ(view.fact("Producer"), producer);
    for (QLabel* label : view.findChildren<QLabel*>())
        if (label->text() == producer) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_LE(label->sizeHint().height(), label->fontMetrics().lineSpacing() * 2);
        }
}

// ---------------------------------------------------------------- editing

TEST(DocumentInfoView, ReturnCommitsOnceAndTabAddsNothing)
{
    Bench bench(QuarnDocument::fromData(testsupport::makeTextPdf(2)));
    DocumentInfoView view(&bench.model, bench.document.get());
    view.show();
    QApplication::setActiveWindow(&view);

    type(view.field(Field::title), "  Report  ");
    QTest::keyClick(view.field(Field::title), Qt::Key_Return);
    ASSERT_EQ(bench.stack().count(), 1);
    EXPECT_EQ(bench.stack().undoText(), "Document Info");
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*bench.document)).title, "Report");
    // The field keeps what was typed while it has the focus.
    EXPECT_EQ(view.field(Field::title)->text(), "  Report  ");

    // Tab moves on: the draft already matches, so no second step.
    QTest::keyClick(view.field(Field::title), Qt::Key_Tab);
    EXPECT_EQ(bench.stack().count(), 1);
}

TEST(DocumentInfoView, FocusMoveCommitsBeforeTheNextFieldIsEdited)
{
    Bench bench(QuarnDocument::fromData(testsupport::makeTextPdf(1)));
    DocumentInfoView view(&bench.model, bench.document.get());
    view.show();
    QApplication::setActiveWindow(&view);

    type(view.field(Field::author), "Ada");
    view.field(Field::subject)->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(bench.stack().count(), 1);
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*bench.document)).author, "Ada");

    // An edit made elsewhere while a field is focused refreshes the facts but
    // leaves the text being typed alone.
    QTest::keyClicks(view.field(Field::subject), "Half");
    bench.stack().undo();
    EXPECT_EQ(view.field(Field::subject)->text(), "Half");
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*bench.document)).author, "");
}

TEST(DocumentInfoView, HidingCommitsAndTheDraftFollowsUndo)
{
    Bench bench(QuarnDocument::fromData(testsupport::makeTextPdf(1)));
    {
        DocumentInfoView view(&bench.model, bench.document.get());
        view.show();
        QApplication::setActiveWindow(&view);
        type(view.field(Field::keywords), "alpha; beta;gamma");
        view.hide(); // the popover closing
        ASSERT_EQ(bench.stack().count(), 1);
        EXPECT_EQ(DocumentMetadata::read(*pdfOf(*bench.document)).keywords, "alpha, beta, gamma");
        // Destroying it afterwards adds nothing.
    }
    EXPECT_EQ(bench.stack().count(), 1);

    // Opened again, the panel shows the stored list.
    DocumentInfoView again(&bench.model, bench.document.get());
    EXPECT_EQ(again.field(Field::keywords)->text(), "alpha, beta, gamma");
    // With no field focused, the draft follows an undo.
    bench.stack().undo();
    EXPECT_EQ(again.field(Field::keywords)->text(), "");
    EXPECT_EQ(again.draft().keywords, "");
}

// Through a real window: edit in the panel, Ctrl+Z, save, reopen.
TEST(DocumentInfoView, EditSavedAndReopenedAndUndoneWithCtrlZ)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "notes.pdf", testsupport::makeTextPdf(3));
    DocumentController controller;
    controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    DocumentWindow* window = controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    ViewerModel& model = window->screen()->model();

    // The Edit menu's Undo, unless the window's menus already give it.
    bool hasUndo = false;
    for (const QAction* action : window->findChildren<QAction*>())
        hasUndo = hasUndo || action->shortcut() == QKeySequence(QKeySequence::Undo);
    if (!hasUndo) {
        QAction* undo = window->undoStack()->createUndoAction(window);
        undo->setShortcut(QKeySequence::Undo);
        window->addAction(undo);
    }

    {
        DocumentInfoView view(&model, window->document(), window);
        view.setWindowFlag(Qt::Popup);
        view.show();
        type(view.field(Field::title), "  Quarterly figures  ");
        type(view.field(Field::keywords), "a;b,c");
        QTest::keyClick(view.field(Field::keywords), Qt::Key_Return);
        view.hide();
    }
    EXPECT_EQ(window->undoStack()->count(), 2);
    EXPECT_TRUE(window->isWindowModified());
    ASSERT_TRUE(window->save());
    EXPECT_FALSE(window->isWindowModified());

    {
        auto reopened = QuarnDocument::open(path);
        const DocumentMetadata stored = DocumentMetadata::read(*pdfOf(*reopened));
        EXPECT_EQ(stored.title, "Quarterly figures");
        EXPECT_EQ(stored.keywords, "a, b, c");
        EXPECT_EQ(pdfOf(*reopened)->infoString("Keywords").value_or(""), "a, b, c");
    }

    // Ctrl+Z in the window takes back the keywords, then the title.
    QApplication::setActiveWindow(window);
    window->screen()->setFocus();
    QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*window->document())).keywords, "");
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*window->document())).title, "Quarterly figures");
    QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*window->document())).title, "");
    EXPECT_TRUE(window->isWindowModified());
    window->close();
}

// ---------------------------------------------------------------- popover

TEST(DocumentInfoPopover, FollowsTheModelAndClosingClearsTheFlag)
{
    Bench bench(QuarnDocument::fromData(testsupport::makeTextPdf(1)));
    QWidget host;
    host.resize(400, 300);
    auto* button = new QWidget(&host);
    button->setGeometry(300, 10, 28, 28);
    host.show();
    DocumentInfoPopover::follow(&bench.model, button);

    DocumentActions::of(bench.model).toggleInfo();
    ASSERT_TRUE(DocumentActions::of(bench.model).infoPresented());
    DocumentInfoPopover* popover = DocumentInfoPopover::shownFor(button);
    ASSERT_NE(popover, nullptr);
    EXPECT_TRUE(popover->isVisible());

    // Typed, then closed with Escape: committed, and the flag goes back.
    type(popover->view()->field(Field::subject), "Budget");
    QTest::keyClick(popover->view()->field(Field::subject), Qt::Key_Escape);
    EXPECT_FALSE(DocumentActions::of(bench.model).infoPresented());
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*bench.document)).subject, "Budget");
    EXPECT_EQ(bench.stack().count(), 1);

    // Toggling twice opens and closes it.
    DocumentActions::of(bench.model).toggleInfo();
    ASSERT_NE(DocumentInfoPopover::shownFor(button), nullptr);
    DocumentActions::of(bench.model).toggleInfo();
    EXPECT_EQ(DocumentInfoPopover::shownFor(button), nullptr);
    EXPECT_EQ(bench.stack().count(), 1);
}

// Ctrl+Z in the open panel, in a field with no typing of its own to take
// back, takes back the last edit of the document, and the fields follow.
TEST(DocumentInfoPopover, CtrlZInAnUntouchedFieldUndoesTheLastEdit)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "trip.pdf", testsupport::makeTextPdf(2));
    DocumentController controller;
    controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    DocumentWindow* window = controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    window->show();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    ViewerModel& model = window->screen()->model();
    DocumentActions::of(model).toggleInfo();
    auto* popover = window->findChild<DocumentInfoPopover*>();
    ASSERT_NE(popover, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return popover->isVisible() && popover->windowHandle(); }));
    QWindow* panel = popover->windowHandle();
    DocumentInfoView& view = *popover->view();
    const auto stored = [&] { return DocumentMetadata::read(*pdfOf(*window->document())); };

    QTest::mouseClick(view.field(Field::title), Qt::LeftButton);
    typeKeys(panel, "Trip");
    QTest::keyClick(panel, Qt::Key_Tab);
    typeKeys(panel, "Ann");
    QTest::keyClick(panel, Qt::Key_Tab); // now in Subject, nothing typed there
    ASSERT_EQ(window->undoStack()->count(), 2);
    ASSERT_EQ(view.field(Field::subject), QApplication::focusWidget());

    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(stored().author, "");
    EXPECT_EQ(view.field(Field::author)->text(), "");
    EXPECT_EQ(view.field(Field::title)->text(), "Trip");
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(stored().title, "");
    EXPECT_EQ(view.field(Field::title)->text(), "");
    // Leaving the field commits nothing: the undone text is gone from the draft.
    QTest::keyClick(panel, Qt::Key_Tab);
    EXPECT_EQ(window->undoStack()->index(), 0);
    EXPECT_EQ(stored().title, "");

    // Redo brings the title back, shown in its field.
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(stored().title, "Trip");
    EXPECT_EQ(view.field(Field::title)->text(), "Trip");
    // Typing in a field is taken back in the field first.
    typeKeys(panel, "x");
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(view.field(Field::keywords)->text(), "");
    EXPECT_EQ(stored().title, "Trip");
    window->close();
}
