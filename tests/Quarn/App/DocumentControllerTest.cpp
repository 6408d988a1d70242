#include "Quarn/App/DocumentController.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/Markup/InlineEditor.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Viewer/StateMessages.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/Export/ExportSheet.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "Quarn/Shell/SettingsWindow.h"
#include "Quarn/Shell/ShortcutsWindow.h"
#include "Quarn/Update/UpdateWindow.h"
#include "Quarn/Update/UpdateRig.h"
#include "Platform/UserDefaults.h"
#include "QuarnKit/Viewer/ReadingPositions.h"
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QUndoStack>
#include <QUrl>

#include <sys/stat.h>

using namespace quarn;
using quarnkit::QuarnDocument;
using testsupport::writeFile;

namespace {

// Windows read the standard settings: keep them away from the user's.
const bool privateConfig = testsupport::usePrivateConfigDir();

struct Failure {
    QString text, reason;
};

// A controller whose alerts and questions are recorded and answered by the test.
struct Controller {
    DocumentController controller;
    std::vector<Failure> failures;
    DocumentController::CloseAnswer answer = DocumentController::CloseAnswer::cancel;
    int questions = 0;

    Controller()
    {
        controller.showFailure = [this](const QString& text, const QString& reason, QWidget*) {
            failures.push_back({text, reason});
        };
        // A refused save is told as a failure, and what still works is not taken.
        controller.offerWhatStillWorks = [this](DocumentWindow&, const QString& text, const QString& reason,
                                                const quarnkit::SaveRemedies&) {
            failures.push_back({text, reason});
            return DocumentController::RefusalAnswer::dismiss;
        };
        controller.askToSaveChanges = [this](DocumentWindow&) {
            ++questions;
            return answer;
        };
    }
    ~Controller()
    {
        answer = DocumentController::CloseAnswer::discard;
        controller.closeAll();
    }
};

QString copyOf(const QTemporaryDir& dir, const char* corpusName, const QString& as)
{
    const QString path = dir.filePath(as);
    QFile::copy(QString::fromStdString(testsupport::corpusPath(corpusName)), path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return path;
}

// One undoable edit of the document's title, as the editing features make them.
class TitleEdit : public QUndoCommand {
public:
    TitleEdit(QuarnDocument& document, std::string title)
        : QUndoCommand("Document Info"), document_(document), title_(std::move(title)),
          before_(pdfOf(document)->infoString("Title"))
    {}
    void redo() override
    {
        pdfOf(document_)->setInfoString("Title", title_);
        document_.noteEdit(std::nullopt);
    }
    void undo() override
    {
        pdfOf(document_)->setInfoString("Title", before_);
        document_.noteEdit(std::nullopt);
    }

private:
    QuarnDocument& document_;
    std::string title_;
    std::optional<std::string> before_;
};

ino_t inodeOf(const QString& path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_ino;
}

} // namespace

TEST(DocumentController, AFileOpensInOneWindowOnly)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = copyOf(dir, "pdflatex-4-pages.pdf", "paper.pdf");
    DocumentWindow* first = c.controller.openDocument(path);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    // Another spelling of the same file brings the same window forward.
    EXPECT_EQ(c.controller.openDocument(dir.path() + "/./paper.pdf"), first);
    EXPECT_EQ(c.controller.windows().size(), 1u);
    EXPECT_EQ(c.controller.windowFor(path), first);
    EXPECT_TRUE(c.failures.empty());
}

TEST(DocumentController, FilesThatCannotBeOpenedAreReported)
{
    QTemporaryDir dir;
    Controller c;
    const QString garbage = writeFile(dir, "garbage.pdf", "this is not a PDF");
    const QString empty = writeFile(dir, "empty.pdf", {});
    EXPECT_EQ(c.controller.openDocument(garbage), nullptr);
    EXPECT_EQ(c.controller.openDocument(empty), nullptr);
    EXPECT_EQ(c.controller.openDocument(dir.path()), nullptr);
    EXPECT_EQ(c.controller.openDocument(dir.filePath("missing.pdf")), nullptr);
    ASSERT_EQ(c.failures.size(), 4u);
    EXPECT_EQ(c.failures[0].text, "The document “garbage.pdf” could not be opened.");
    EXPECT_FALSE(c.failures[0].reason.isEmpty());
    EXPECT_TRUE(c.controller.windows().empty());
}

TEST(DocumentController, DroppedPdfOpensInItsOwnWindowAndOtherFilesAreIgnored)
{
    QTemporaryDir dir;
    Controller c;
    const QString host = copyOf(dir, "pdflatex-4-pages.pdf", "host.pdf");
    const QString dropped = copyOf(dir, "pdflatex-outline.pdf", "dropped.pdf");
    const QString picture = writeFile(dir, "picture.png", "\x89PNG\r\n\x1a\n");
    DocumentWindow* window = c.controller.openDocument(host);
    ASSERT_NE(window, nullptr);

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(picture), QUrl::fromLocalFile(dropped)});
    EXPECT_TRUE(window->screen()->openDroppedPdfs(&mime));
    ASSERT_EQ(c.controller.windows().size(), 2u);
    EXPECT_EQ(c.controller.windows()[1]->filePath(), DocumentController::fileKey(dropped));
    EXPECT_EQ(c.controller.windows()[0], window); // never into the window it was dropped on
    EXPECT_EQ(window->filePath(), DocumentController::fileKey(host));

    // A dropped PDF that fails to open is reported, not silently accepted.
    const QString broken = writeFile(dir, "broken.pdf", "%PDF-1.7\nbroken");
    QMimeData bad;
    bad.setUrls({QUrl::fromLocalFile(broken)});
    EXPECT_TRUE(window->screen()->openDroppedPdfs(&bad));
    ASSERT_EQ(c.failures.size(), 1u);
    EXPECT_EQ(c.failures[0].text, "The document “broken.pdf” could not be opened.");
    EXPECT_EQ(c.controller.windows().size(), 2u);
}

TEST(DocumentWindow, SavingAfterAnEditReplacesTheFileAtomically)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = copyOf(dir, "pdflatex-4-pages.pdf", "paper.pdf");
    DocumentWindow* window = c.controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_EQ(window->windowTitle(), "paper.pdf[*]");

    window->undoStack()->push(new TitleEdit(*window->document(), "Edited"));
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_TRUE(window->isDocumentEdited());

    const ino_t before = inodeOf(path);
    ASSERT_TRUE(window->save());
    EXPECT_FALSE(window->isWindowModified());
    // A new file was renamed into place; the old one was never written into.
    EXPECT_NE(inodeOf(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"paper.pdf"});
    auto reopened = QuarnDocument::open(path);
    EXPECT_EQ(reopened->pageCount(), 4);
    EXPECT_EQ(pdfOf(*reopened)->infoString("Title"), std::optional<std::string>("Edited"));

    // Undoing back past the save marks the window modified again.
    window->undoStack()->undo();
    EXPECT_TRUE(window->isWindowModified());
}

TEST(DocumentWindow, SaveAsMovesTheWindowToTheNewFile)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = copyOf(dir, "pdflatex-4-pages.pdf", "paper.pdf");
    const QByteArray original = [&] {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    DocumentWindow* window = c.controller.openDocument(path);
    window->undoStack()->push(new TitleEdit(*window->document(), "Copy"));
    const QString copy = dir.filePath("copy.pdf");
    ASSERT_TRUE(window->saveAs(copy));
    EXPECT_EQ(window->filePath(), copy);
    EXPECT_EQ(window->windowTitle(), "copy.pdf[*]");
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_EQ(window->screen()->model().filePath(), copy);
    EXPECT_EQ(c.controller.openDocument(copy), window);
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    EXPECT_EQ(f.readAll(), original); // the first file is untouched

    EXPECT_FALSE(window->saveAs(dir.filePath("no/such/folder/x.pdf")));
    ASSERT_EQ(c.failures.size(), 1u);
    EXPECT_EQ(window->filePath(), copy);
}

TEST(DocumentWindow, ClosingAModifiedWindowAsksFirst)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = copyOf(dir, "pdflatex-4-pages.pdf", "paper.pdf");
    DocumentWindow* window = c.controller.openDocument(path);
    window->undoStack()->push(new TitleEdit(*window->document(), "Unsaved"));

    c.answer = DocumentController::CloseAnswer::cancel;
    EXPECT_FALSE(window->close());
    EXPECT_EQ(c.questions, 1);
    EXPECT_EQ(c.controller.windows().size(), 1u);

    c.answer = DocumentController::CloseAnswer::save;
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(c.controller.windows().empty());
    EXPECT_EQ(pdfOf(*QuarnDocument::open(path))->infoString("Title"), std::optional<std::string>("Unsaved"));

    // Discarding closes without writing; a window without changes is not asked about.
    DocumentWindow* again = c.controller.openDocument(path);
    again->undoStack()->push(new TitleEdit(*again->document(), "Dropped"));
    c.answer = DocumentController::CloseAnswer::discard;
    EXPECT_TRUE(again->close());
    EXPECT_EQ(pdfOf(*QuarnDocument::open(path))->infoString("Title"), std::optional<std::string>("Unsaved"));
    DocumentWindow* clean = c.controller.openDocument(path);
    const int asked = c.questions;
    EXPECT_TRUE(clean->close());
    EXPECT_EQ(c.questions, asked);
}

TEST(DocumentWindow, RevertReloadsTheFileAndForgetsTheChanges)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = copyOf(dir, "pdflatex-4-pages.pdf", "paper.pdf");
    DocumentWindow* window = c.controller.openDocument(path);
    const auto saved = pdfOf(*window->document())->infoString("Title");
    window->undoStack()->push(new TitleEdit(*window->document(), "Changed"));
    ASSERT_TRUE(window->revert());
    EXPECT_EQ(pdfOf(*window->document())->infoString("Title"), saved);
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_EQ(window->undoStack()->count(), 0);
    EXPECT_EQ(window->screen()->document(), window->document());
    EXPECT_EQ(window->screen()->model().document(), window->document());
}

TEST(DocumentController, QuitIsCalledOffWhenAWindowStaysOpen)
{
    QTemporaryDir dir;
    Controller c;
    c.controller.openDocument(copyOf(dir, "pdflatex-outline.pdf", "b.pdf"));
    DocumentWindow* a = c.controller.openDocument(copyOf(dir, "pdflatex-4-pages.pdf", "a.pdf"));
    a->undoStack()->push(new TitleEdit(*a->document(), "Keep"));
    c.answer = DocumentController::CloseAnswer::cancel;
    EXPECT_FALSE(c.controller.closeAll());
    // The unchanged window opened first stays open too: nothing closes on a Cancel.
    EXPECT_EQ(c.controller.windows().size(), 2u);
    EXPECT_EQ(c.questions, 1);
}

// Settings, Keyboard Shortcuts and Software Update have no menu bar: Ctrl+Q
// there is still the File menu's Quit, which asks about a changed document.
TEST(DocumentController, TheQuitKeyQuitsFromWindowsWithoutAMenuBar)
{
    QTemporaryDir dir;
    DocumentController& documents = DocumentController::shared();
    const auto ask = documents.askToSaveChanges;
    int questions = 0;
    documents.askToSaveChanges = [&](DocumentWindow&) {
        ++questions;
        return DocumentController::CloseAnswer::cancel;
    };
    DocumentWindow* changed = documents.openDocument(copyOf(dir, "pdflatex-4-pages.pdf", "a.pdf"));
    ASSERT_NE(changed, nullptr);
    changed->undoStack()->push(new TitleEdit(*changed->document(), "Keep"));

    platform::UserDefaults defaults(dir.filePath("defaults.json"));
    quarnkit::ReadingPositionStore positions(defaults);
    SettingsWindow settings(defaults, positions, {});
    ShortcutsWindow shortcuts(defaults);
    updatetest::UpdateRig rig;
    UpdateWindow update(rig.make());
    const std::vector<std::pair<const char*, std::function<QWidget*()>>> windows = {
        {"Settings", [&] { return settings.show(), settings.window(); }},
        {"Keyboard Shortcuts", [&] { return shortcuts.show(), shortcuts.window(); }},
        {"Software Update", [&] { return update.show(true), update.window(); }},
    };
    for (const auto& [name, show] : windows) {
        QWidget* window = show();
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window)) << name;
        const int before = questions;
        QTest::keyClick(window->windowHandle(), Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(questions, before + 1) << name;
        // Cancel called the quit off: the document is still open.
        EXPECT_EQ(documents.windows().size(), 1u) << name;
        window->close();
    }

    documents.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    EXPECT_TRUE(documents.closeAll());
    documents.askToSaveChanges = ask;
}

TEST(DocumentController, QuitAsksAboutEveryChangedWindowBeforeClosingAny)
{
    QTemporaryDir dir;
    Controller c;
    DocumentWindow* first = c.controller.openDocument(copyOf(dir, "pdflatex-4-pages.pdf", "a.pdf"));
    c.controller.openDocument(copyOf(dir, "pdflatex-outline.pdf", "b.pdf"));
    DocumentWindow* last = c.controller.openDocument(copyOf(dir, "pdflatex-4-pages.pdf", "c.pdf"));
    first->undoStack()->push(new TitleEdit(*first->document(), "First"));
    last->undoStack()->push(new TitleEdit(*last->document(), "Last"));
    // Save for the first, Cancel for the last: no window closes and no file is written.
    std::vector<QString> asked;
    c.controller.askToSaveChanges = [&](DocumentWindow& window) {
        asked.push_back(window.displayName());
        for (DocumentWindow* open : c.controller.windows()) EXPECT_TRUE(open->isVisible());
        return asked.size() == 1 ? DocumentController::CloseAnswer::save : DocumentController::CloseAnswer::cancel;
    };
    EXPECT_FALSE(c.controller.closeAll());
    EXPECT_EQ(asked, (std::vector<QString>{"a.pdf", "c.pdf"}));
    EXPECT_EQ(c.controller.windows().size(), 3u);
    EXPECT_NE(pdfOf(*QuarnDocument::open(dir.filePath("a.pdf")))->infoString("Title"),
              std::optional<std::string>("First"));

    // Save and Don't Save: everything closes, the saved one with its change.
    asked.clear();
    c.controller.askToSaveChanges = [&](DocumentWindow& window) {
        asked.push_back(window.displayName());
        return asked.size() == 1 ? DocumentController::CloseAnswer::save : DocumentController::CloseAnswer::discard;
    };
    EXPECT_TRUE(c.controller.closeAll());
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_TRUE(c.controller.windows().empty());
    EXPECT_EQ(pdfOf(*QuarnDocument::open(dir.filePath("a.pdf")))->infoString("Title"),
              std::optional<std::string>("First"));
    EXPECT_NE(pdfOf(*QuarnDocument::open(dir.filePath("c.pdf")))->infoString("Title"),
              std::optional<std::string>("Last"));
}

namespace {

// The message box shown over `window`, once it is up.
QMessageBox* shownBox()
{
    QMessageBox* found = nullptr;
    testsupport::waitFor(
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) found = box;
            return found != nullptr;
        },
        10000);
    return found;
}

} // namespace

TEST(DocumentWindow, QuestionsStandInTheDialogsTextNotItsTitle)
{
    QTemporaryDir dir;
    Controller c;
    const DocumentController plain;
    c.controller.askToSaveChanges = plain.askToSaveChanges; // the real dialog
    // A file name that looks like markup is shown as it is.
    DocumentWindow* window = c.controller.openDocument(copyOf(dir, "pdflatex-4-pages.pdf", "<i>paper.pdf"));
    window->undoStack()->push(new TitleEdit(*window->document(), "Changed"));

    struct Seen {
        QString title, text, detail;
    };
    const auto read = [](QMessageBox* box) {
        if (!box) return Seen{};
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        return Seen{box->windowTitle(), box->text(), box->informativeText()};
    };
    Seen closing;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = shownBox();
        closing = read(box);
        if (box) QTest::keyClick(box, Qt::Key_Escape); // Cancel
    });
    EXPECT_FALSE(window->close());
    EXPECT_EQ(closing.text, "Do you want to save the changes made to the document “<i>paper.pdf”?");
    EXPECT_EQ(closing.detail, "Your changes will be lost if you don't save them.");
    EXPECT_FALSE(closing.title.contains("changes"));

    window->revertWithQuestion();
    QMessageBox* revert = shownBox();
    const Seen reverting = read(revert);
    EXPECT_EQ(reverting.text,
              "Do you want to revert to the most recently saved version of the document “<i>paper.pdf”?");
    EXPECT_EQ(reverting.detail, "Your current changes will be lost.");
    EXPECT_FALSE(reverting.title.contains("revert"));
    if (revert) revert->reject();
    c.controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
}

TEST(DocumentWindow, RevertOfAnUnlockedFileReusesItsPassword)
{
    QTemporaryDir dir;
    Controller c;
    DocumentWindow* window = c.controller.openDocument(copyOf(dir, "libreoffice-writer-password.pdf", "locked.pdf"));
    ASSERT_EQ(window->screen()->content(), ViewerScreen::Content::locked);
    LockedGate* gate = window->screen()->gate();
    ASSERT_NE(gate, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return gate->field()->hasFocus(); }));
    for (const char key : std::string("openpassword")) QTest::keyClick(window->windowHandle(), key);
    QTest::keyClick(window->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return window->screen()->content() == ViewerScreen::Content::document; }));
    window->undoStack()->push(new TitleEdit(*window->document(), "Changed"));
    ASSERT_TRUE(window->revert());
    EXPECT_FALSE(window->document()->isLocked());
    EXPECT_EQ(window->screen()->content(), ViewerScreen::Content::document);
}

// The password is tried on a worker (a damaged file is read whole once it
// opens): meanwhile the gate waits, the window answers and keeps the document
// locked, and a window closed before the answer drops it and frees the PDF.
TEST(DocumentWindow, APasswordIsTriedOnAWorkerWhileTheWindowAnswers)
{
    const struct {
        const char* name;
        const char* password;
        bool closeMidCheck;
    } rows[] = {
        {"wrong", "nope", false},
        {"right", "openpassword", false},
        {"closed", "openpassword", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        Controller c;
        QPointer<DocumentWindow> window =
            c.controller.openDocument(copyOf(dir, "libreoffice-writer-password.pdf", "locked.pdf"));
        ASSERT_TRUE(window);
        const std::weak_ptr<platform::PdfDocument> pdf = pdfOf(*window->document());
        // Gone once the pages show.
        const QPointer<LockedGate> gate = window->screen()->gate();
        ASSERT_TRUE(gate);
        testsupport::WorkerGate worker;
        window->screen()->unlockHook = worker.hook();
        ASSERT_TRUE(testsupport::waitFor([&] { return gate->field()->hasFocus(); }));
        for (const char key : std::string(row.password)) QTest::keyClick(window->windowHandle(), key);
        QTest::keyClick(window->windowHandle(), Qt::Key_Return);
        ASSERT_TRUE(worker.waitUntilReached());

        EXPECT_TRUE(gate->checking());
        EXPECT_FALSE(gate->field()->isEnabled());
        EXPECT_FALSE(gate->unlockButton()->isEnabled());
        EXPECT_TRUE(window->document()->isLocked());
        // The window answers: Export… says the PDF is still locked.
        QTest::keyClick(window->windowHandle(), Qt::Key_E, Qt::ControlModifier);
        ExportSheet* sheet = nullptr;
        ASSERT_TRUE(
            testsupport::waitFor([&] { return (sheet = window->findChild<ExportSheet*>()) && sheet->isVisible(); }));
        EXPECT_EQ(sheet->validation()->text(), QStringLiteral("Unlock the PDF to export it."));
        QTest::keyClick(sheet->windowHandle(), Qt::Key_Escape);
        ASSERT_TRUE(
            testsupport::waitFor([&] { return !DocumentActions::of(window->screen()->model()).exportPresented(); }));
        QApplication::setActiveWindow(window); // the sheet had the keys while it showed
        EXPECT_TRUE(gate->checking());

        if (row.closeMidCheck) {
            window->close();
            ASSERT_TRUE(testsupport::waitFor([&] { return !window; }));
            EXPECT_TRUE(c.controller.windows().empty());
            worker.release();
            // The worker ends and lets the PDF go; its answer finds no window.
            ASSERT_TRUE(testsupport::waitFor([&] { return pdf.expired(); }));
            QApplication::processEvents();
            continue;
        }
        worker.release();
        ASSERT_TRUE(testsupport::waitFor([&] { return !gate || !gate->checking(); }));
        if (std::string(row.name) == "wrong") {
            ASSERT_TRUE(gate);
            EXPECT_TRUE(gate->failed());
            EXPECT_TRUE(window->document()->isLocked());
            EXPECT_TRUE(gate->field()->isEnabled());
            // The typed password stays, selected, for the next try.
            EXPECT_TRUE(testsupport::waitFor(
                [&] { return gate->field()->hasFocus() && gate->field()->selectedText() == row.password; }));
        } else {
            EXPECT_FALSE(window->document()->isLocked());
            EXPECT_TRUE(
                testsupport::waitFor([&] { return window->screen()->content() == ViewerScreen::Content::document; }));
        }
    }
}

TEST(DocumentController, OpenPanelIsShownOnce)
{
    Controller c;
    c.controller.runOpenPanel();
    c.controller.runOpenPanel();
    EXPECT_TRUE(c.controller.openPanelVisible());
    int panels = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        panels += qobject_cast<QFileDialog*>(widget) && widget->isVisible();
    EXPECT_EQ(panels, 1);
    c.controller.closeOpenPanels();
    EXPECT_FALSE(c.controller.openPanelVisible());
}

TEST(DocumentWindow, AnEditNoUndoStepRecordsStillAsksBeforeClosing)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = copyOf(dir, "pdflatex-4-pages.pdf", "paper.pdf");
    DocumentWindow* window = c.controller.openDocument(path);
    pdfOf(*window->document())->setInfoString("Title", "Unrecorded");
    window->document()->noteUnrecordedEdit(std::nullopt);
    EXPECT_TRUE(window->isDocumentEdited());
    EXPECT_TRUE(window->isWindowModified());

    c.answer = DocumentController::CloseAnswer::cancel;
    EXPECT_FALSE(window->close());
    EXPECT_EQ(c.questions, 1);

    // Saving brings the file up to date; the question is not asked again.
    ASSERT_TRUE(window->save());
    EXPECT_FALSE(window->isDocumentEdited());
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_TRUE(window->close());
    EXPECT_EQ(c.questions, 1);
    EXPECT_EQ(pdfOf(*QuarnDocument::open(path))->infoString("Title"), std::optional<std::string>("Unrecorded"));
}

TEST(DocumentWindow, WordsStillBeingTypedAreSavedAndAskedAbout)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = copyOf(dir, "pdflatex-4-pages.pdf", "paper.pdf");
    DocumentWindow* window = c.controller.openDocument(path);
    QuarnPDFView* view = window->screen()->pageViewHost()->view();
    const auto marksOnPageOne = [](const QString& file) {
        auto doc = platform::PdfDocument::openFile(file.toStdString());
        return platform::PdfAnnotations::list(*doc, 0).size();
    };
    const size_t before = marksOnPageOne(path);

    EditorTarget box;
    box.kind = EditorTarget::Kind::newText;
    box.page = 0;
    box.point = {100, 600};
    MarkEditor::of(*view).beginEditing(box);
    auto* editor = qobject_cast<QTextEdit*>(MarkEditor::of(*view).editor());
    ASSERT_NE(editor, nullptr);
    editor->setPlainText("Typed, not yet committed");

    // Closing asks about the words in the editor, and saving keeps them.
    c.answer = DocumentController::CloseAnswer::save;
    EXPECT_TRUE(window->close());
    EXPECT_EQ(c.questions, 1);
    EXPECT_EQ(marksOnPageOne(path), before + 1);
}

TEST(DocumentWindow, ANewWindowFitsTheScreensAvailableArea)
{
    QTemporaryDir dir;
    Controller c;
    DocumentWindow* window = c.controller.openDocument(copyOf(dir, "pdflatex-4-pages.pdf", "paper.pdf"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QApplication::processEvents();
    const QRect available = window->screen()->screen()->availableGeometry();
    // The test screen is smaller than the usual 1180 × 800: the window, frame
    // and all, stands within its height (the status bar stays on screen) and
    // no wider than the screen, less the little the frame adds.
    ASSERT_TRUE(available.width() < 1180 || available.height() < 800) << available.width() << "×" << available.height();
    EXPECT_TRUE(testsupport::waitFor([&] {
        const QRect shown = window->frameGeometry();
        return shown.top() >= available.top() && shown.bottom() <= available.bottom()
               && window->width() <= available.width();
    })) << window->frameGeometry().width()
        << "×" << window->frameGeometry().height();
}

// Later windows cascade from the last one and never pass the bottom or the
// right of the screen: on a 1600 × 1000 screen with a 30-pixel panel on top,
// an 1180 × 830 frame steps down to 170 and then starts again at the top.
TEST(DocumentController, LaterWindowsCascadeAndStayOnTheScreen)
{
    const QRect available(0, 30, 1600, 970);
    const QSize frame(1180, 830);
    const struct {
        QPoint last, next;
    } steps[] = {
        {{100, 30}, {122, 52}},   // room below: one step down and right
        {{100, 148}, {122, 170}}, // the frame's bottom on the screen's last row
        {{122, 170}, {144, 30}},  // past the bottom: back to the top
        {{420, 100}, {0, 122}},   // past the right: back to the left
        {{420, 170}, {0, 30}},    // both
    };
    for (const auto& step : steps) {
        const QPoint next = DocumentController::cascadedPlace(QRect(step.last, frame), frame, available);
        EXPECT_EQ(next, step.next) << step.last.x() << "," << step.last.y();
        EXPECT_TRUE(available.contains(QRect(next, frame)));
    }
}

// Twelve files opened in one command on a 1600 × 1000 screen: each window is
// placed before the window manager has shown the earlier ones. Window 2 steps
// down and right from window 1, each later one from the one before it or back
// at the top (or the left), and every frame stays on the screen. The test runs
// itself again on a screen of that size with frames round its windows.
TEST(DocumentController, TwelveFilesInOneCommandStayOnTheScreen)
{
    const QRect wide(0, 0, 1600, 1000);
    if (QGuiApplication::primaryScreen()->geometry() != wide) {
        QTemporaryDir dir;
        const QString config = writeFile(dir, QStringLiteral("screen.json"),
                                         R"({"windowFrameMargins": true, "screens": [{"name": "wide", "x": 0,
                                             "y": 0, "width": 1600, "height": 1000, "logicalDpi": 96,
                                             "logicalBaseDpi": 96, "dpr": 1}]})");
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config);
        // The screen is of that size in its own pixels: a scale the tests run at would shrink it.
        environment.remove(QStringLiteral("QT_SCALE_FACTOR"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=DocumentController.TwelveFilesInOneCommandStayOnTheScreen")});
        ASSERT_TRUE(child.waitForFinished(240000));
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
        return;
    }
    Controller c;
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 1; i <= 12; ++i)
        paths << writeFile(dir, QStringLiteral("File %1.pdf").arg(i), testsupport::makeTextPdf(1));
    c.controller.openDocuments(paths);
    const std::vector<DocumentWindow*> windows = c.controller.windows();
    ASSERT_EQ(windows.size(), 12u);
    for (DocumentWindow* window : windows) ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QApplication::processEvents();
    const QRect available = windows[0]->QWidget::screen()->availableGeometry();
    ASSERT_EQ(available, wide);
    const int step = DocumentController::cascadeStep;
    EXPECT_EQ(windows[1]->frameGeometry().topLeft(), windows[0]->frameGeometry().topLeft() + QPoint(step, step));
    for (size_t i = 0; i < windows.size(); ++i) {
        const QRect frame = windows[i]->frameGeometry();
        EXPECT_NE(frame.size(), windows[i]->size()) << "the window has a frame";
        EXPECT_TRUE(available.contains(frame)) << "window " << i + 1 << " at " << frame.x() << "," << frame.y() << " "
                                               << frame.width() << "×" << frame.height();
        if (i == 0) continue;
        const QRect before = windows[i - 1]->frameGeometry();
        EXPECT_TRUE(frame.top() == before.top() + step || frame.top() == available.top()) << i + 1;
        EXPECT_TRUE(frame.left() == before.left() + step || frame.left() == available.left()) << i + 1;
    }
}

TEST(DocumentController, TheOpenPanelIsTheDesktopsOwnWhereThereIsOne)
{
    Controller c;
    c.controller.runOpenPanel();
    QFileDialog* panel = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QFileDialog*>(widget)) panel = dialog;
    ASSERT_NE(panel, nullptr);
    // Not forced to Qt's own: the platform theme (the XDG portal) may give the desktop's.
    EXPECT_FALSE(panel->testOption(QFileDialog::DontUseNativeDialog));
    c.controller.closeOpenPanels();
}
