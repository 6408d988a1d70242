#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/ToolMemory.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Viewer/ToolbarItems.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Platform/UserDefaults.h"
#include "Quarn/Viewer/ShareMenu.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/App/ViewerScreen.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/DroppableWork.h"
#include "support/TestSupport.h"
#include "Quarn/App/ViewerScreenHarness.h"

#include <QUndoStack> // before the view header

#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/QuarnPDFView.h"

#include <gtest/gtest.h>

#include <optional>

#include <QApplication>
#include <QThreadPool>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quarn;
using quarnkit::DocumentMetadata;
using quarnkit::QuarnDocument;

using namespace viewertest;

// ---------------------------------------------------------------- metadata with undo

TEST(ViewerModelMetadata, OneNamedStepThatUndoesAndRedoes)
{
    Settings settings;
    auto document = QuarnDocument::open(corpus("pdflatex-4-pages.pdf"));
    const DocumentMetadata before = DocumentMetadata::read(*pdfOf(*document));
    const auto producer = pdfOf(*document)->infoString("Producer");
    auto screen = showScreen(document.get(), {}, settings);
    QUndoStack& stack = document->undoStack();
    ViewerModel& model = screen->model();

    QSignalSpy edits(document.get(), &QuarnDocument::generationChanged);
    DocumentMetadata changed = before;
    changed.title = "New title";
    DocumentActions::of(model).updateMetadata(changed);
    ASSERT_EQ(stack.count(), 1);
    EXPECT_EQ(stack.undoText(), "Document Info");
    EXPECT_EQ(edits.count(), 1);
    EXPECT_EQ(document->editedPage(), std::nullopt);
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*document)).title, "New title");
    // Attributes nobody edited stay as they were.
    EXPECT_EQ(pdfOf(*document)->infoString("Producer"), producer);

    stack.undo();
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*document)), before);
    EXPECT_EQ(stack.redoText(), "Document Info");
    stack.redo();
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*document)).title, "New title");
    EXPECT_EQ(edits.count(), 3);
}

TEST(ViewerModelMetadata, ChangesRemovedByNormalisingAddNoStep)
{
    Settings settings;
    auto document = QuarnDocument::fromData(testsupport::makeTextPdf(1));
    auto screen = showScreen(document.get(), {}, settings);
    QUndoStack& stack = document->undoStack();
    ViewerModel& model = screen->model();
    DocumentActions::of(model).updateMetadata(DocumentMetadata("Title", "", "", "a, b"));
    ASSERT_EQ(stack.count(), 1);

    DocumentActions::of(model).updateMetadata(DocumentMetadata("  Title\n", " ", "", "a;b ;"));
    DocumentActions::of(model).updateMetadata(DocumentMetadata("Title", "", "", "a,b"));
    EXPECT_EQ(stack.count(), 1);
}

TEST(ViewerModelMetadata, AnEditWithoutAPageViewStillMarksTheWindowModified)
{
    Settings settings;
    // No pages: the window shows a message and has no page view at all.
    QuarnDocument document(platform::PdfDocument::createEmpty());
    auto screen = showScreen(&document, {}, settings);
    QUndoStack& stack = document.undoStack();
    ASSERT_EQ(screen->pageViewHost(), nullptr);
    ViewerModel& model = screen->model();
    ASSERT_EQ(model.pdfView(), nullptr);
    ASSERT_TRUE(stack.isClean());

    DocumentActions::of(model).updateMetadata(DocumentMetadata("Empty but named", "", "", ""));
    EXPECT_FALSE(stack.isClean());
    EXPECT_EQ(stack.undoText(), "Document Info");
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(document)).title, "Empty but named");
}

TEST(ViewerModelMetadata, LockedDocumentsAreLeftAlone)
{
    Settings settings;
    auto document = QuarnDocument::open(corpus("libreoffice-writer-password.pdf"));
    ViewerModel model(&settings.defaults, &settings.positions);
    model.setDocument(document.get());
    DocumentActions::of(model).updateMetadata(DocumentMetadata("x", "", "", ""));
    EXPECT_EQ(document->undoStack().count(), 0);
}

// ---------------------------------------------------------------- availability

TEST(ViewerModelDocumentActions, InfoAndExportOnlyForAnOpenDocumentWithPages)
{
    Settings settings;
    auto locked = QuarnDocument::open(corpus("libreoffice-writer-password.pdf"));
    QuarnDocument empty(platform::PdfDocument::createEmpty());
    QuarnDocument blank;
    ViewerModel model(&settings.defaults, &settings.positions);
    QSignalSpy info(&DocumentActions::of(model), &DocumentActions::infoPresentedChanged);

    for (QuarnDocument* refused : {locked.get(), &empty}) {
        model.setDocument(refused);
        EXPECT_FALSE(DocumentActions::of(model).available());
        DocumentActions::of(model).toggleInfo();
        DocumentActions::of(model).presentExport();
        DocumentActions::of(model).shareCopy();
        EXPECT_FALSE(DocumentActions::of(model).infoPresented());
        EXPECT_FALSE(DocumentActions::of(model).exportPresented());
    }
    EXPECT_EQ(info.count(), 0);

    model.setDocument(&blank);
    DocumentActions::of(model).toggleInfo();
    EXPECT_TRUE(DocumentActions::of(model).infoPresented());
    DocumentActions::of(model).toggleInfo();
    EXPECT_FALSE(DocumentActions::of(model).infoPresented());
    DocumentActions::of(model).presentExport();
    EXPECT_TRUE(DocumentActions::of(model).exportPresented());
    EXPECT_EQ(info.count(), 2);
}

TEST(ViewerModelTools, ChoosingAToolOtherThanSelectDropsTheSelection)
{
    Settings settings;
    QuarnDocument document;
    auto screen = showScreen(&document, {}, settings);
    ViewerModel& model = screen->model();
    QSignalSpy tools(&MarkupModel::of(model), &MarkupModel::toolChanged);
    MarkupModel::of(model).chooseTool(quarnkit::MarkupTool::select);
    EXPECT_EQ(tools.count(), 0);
    MarkupModel::of(model).chooseTool(quarnkit::MarkupTool::pen);
    EXPECT_EQ(MarkupModel::of(model).tool(), quarnkit::MarkupTool::pen);
    EXPECT_FALSE(MarkupModel::of(model).hasSelection());
    EXPECT_EQ(MarkEditor::of(*screen->pageViewHost()->view()).selected(), std::nullopt);
}

TEST(ViewerModelTools, ChoosingAToolLoadsItsRememberedStyleAndRemembersTheGroupChoice)
{
    Settings settings;
    // A remembered pen style and the default of the highlighter, as a later run finds them.
    quarnkit::ToolMemory memory;
    quarnkit::ToolStyle pen = quarnkit::ToolMemory::defaultStyle(quarnkit::MarkupTool::pen);
    pen.color = quarnkit::RGBA::crimson;
    pen.stroke = 7;
    memory.setStyle(pen, quarnkit::MarkupTool::pen);
    memory.save(settings.defaults);

    QuarnDocument document;
    auto screen = showScreen(&document, {}, settings);
    ViewerModel& model = screen->model();
    MarkupModel::of(model).chooseTool(quarnkit::MarkupTool::pen);
    EXPECT_EQ(MarkupModel::of(model).color(), quarnkit::RGBA::crimson);
    EXPECT_DOUBLE_EQ(MarkupModel::of(model).stroke(), 7);
    const auto swatches = quarnkit::RGBA::palette(quarnkit::MarkupTool::pen);
    ASSERT_GE(MarkupModel::of(model).swatchIndex(), 0);
    EXPECT_EQ(swatches[size_t(MarkupModel::of(model).swatchIndex())], quarnkit::RGBA::crimson);
    // The page view draws with the loaded style.
    EXPECT_EQ(MarkupModel::of(model).toolStyle().color, quarnkit::RGBA::crimson);

    MarkupModel::of(model).chooseTool(quarnkit::MarkupTool::underline);
    EXPECT_EQ(MarkupModel::of(model).toolStyle(), [] {
        quarnkit::ToolStyle s = quarnkit::ToolMemory::defaultStyle(quarnkit::MarkupTool::underline);
        s.font = quarnkit::TextFont::sans;
        return s;
    }());
    // The group's choice is written to the settings at once.
    settings.defaults.synchronize();
    const auto reread = quarnkit::ToolMemory::load(settings.defaults);
    EXPECT_EQ(reread, MarkupModel::of(model).toolMemory());
}

// ---------------------------------------------------------------- sharing

namespace {

// The file the window's actions share, once it is ready.
QString shareFile(ViewerModel& model, const QString& temporaryRoot)
{
    std::optional<DocumentActions::ShareFile> file;
    EXPECT_TRUE(DocumentActions::of(model).makeShareFile(
        [&file](const DocumentActions::ShareFile& made) { file = made; }, temporaryRoot));
    EXPECT_TRUE(testsupport::waitFor([&file] { return file.has_value(); }));
    EXPECT_EQ(file.value_or(DocumentActions::ShareFile{}).failure, QString());
    return file ? file->path : QString();
}

} // namespace

TEST(ViewerModelShare, AnUnchangedFileIsSharedItselfAnEditedOneAsACopy)
{
    Settings settings;
    QTemporaryDir files;
    QTemporaryDir tmp;
    const QString path = writeFile(files, "Minutes.pdf", testsupport::makeTextPdf(2));
    auto document = QuarnDocument::open(path);
    auto screen = showScreen(document.get(), path, settings);
    ViewerModel& model = screen->model();
    ASSERT_NE(model.pdfView(), nullptr);

    EXPECT_TRUE(DocumentActions::of(model).isSavedAndUnchanged());
    EXPECT_EQ(shareFile(model, tmp.path()), path);

    DocumentActions::of(model).updateMetadata(DocumentMetadata("Edited", "", "", ""));
    EXPECT_FALSE(DocumentActions::of(model).isSavedAndUnchanged());
    const QString copy = shareFile(model, tmp.path());
    const ShareFolder folder({QString(), tmp.path()});
    EXPECT_TRUE(copy.startsWith(folder.path() + "/")) << copy.toStdString();
    EXPECT_EQ(QFileInfo(copy).fileName(), "Minutes.pdf");
    // The copy holds the edit; the file does not.
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*QuarnDocument::open(copy))).title, "Edited");
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*QuarnDocument::open(path))).title, "");
    // Each share gets a folder of its own.
    EXPECT_NE(QFileInfo(shareFile(model, tmp.path())).absolutePath(), QFileInfo(copy).absolutePath());
}

TEST(ViewerModelShare, ADocumentWithoutAFileIsSharedAsUntitled)
{
    Settings settings;
    QTemporaryDir tmp;
    QuarnDocument document;
    auto screen = showScreen(&document, {}, settings);
    EXPECT_EQ(QFileInfo(shareFile(screen->model(), tmp.path())).fileName(), "Untitled.pdf");
}

TEST(ViewerModelShare, AnEditedFileIsCopiedOnAWorkerWhileTheWindowGoesOn)
{
    Settings settings;
    QTemporaryDir files;
    const QString path = writeFile(files, "Draft.pdf", testsupport::makeTextPdf(3));
    auto document = QuarnDocument::open(path);
    auto screen = showScreen(document.get(), path, settings);
    ASSERT_TRUE(waitForPages(*screen));
    DocumentActions& actions = DocumentActions::of(screen->model());
    actions.updateMetadata(DocumentMetadata("Shared draft", "", "", ""));

    // The worker waits here until the window has been looked at.
    testsupport::WorkerGate gate;
    actions.shareWorkerHook = gate.hook();
    actions.shareCopy();
    ASSERT_TRUE(actions.isMakingShareFile());
    QApplication::processEvents();
    // No menu yet, the pages still turn, and asking again starts no second copy.
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    screen->model().pdfView()->goToPage(2);
    EXPECT_EQ(screen->model().pdfView()->currentPageIndex(), 2);
    EXPECT_FALSE(actions.makeShareFile([](const DocumentActions::ShareFile&) { ADD_FAILURE(); }));
    actions.shareCopy();
    gate.release();

    ASSERT_TRUE(testsupport::waitFor([] { return qobject_cast<ShareMenu*>(QApplication::activePopupWidget()); }));
    auto* menu = qobject_cast<ShareMenu*>(QApplication::activePopupWidget());
    EXPECT_NE(menu->filePath(), path);
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*QuarnDocument::open(menu->filePath()))).title, "Shared draft");
    menu->close();
    EXPECT_FALSE(actions.isMakingShareFile());
}

TEST(ViewerModelShare, AWindowClosedWhileItsCopyIsMadeShowsNothingAndLosesNothing)
{
    Settings settings;
    QTemporaryDir files;
    const QString path = writeFile(files, "Closing.pdf", testsupport::makeTextPdf(2));
    auto document = QuarnDocument::open(path);
    auto screen = showScreen(document.get(), path, settings);
    DocumentActions& actions = DocumentActions::of(screen->model());
    actions.updateMetadata(DocumentMetadata("Edited", "", "", ""));
    testsupport::WorkerGate gate;
    actions.shareWorkerHook = gate.hook();
    actions.shareCopy();
    ASSERT_TRUE(gate.waitUntilReached());

    // The window and its document go while the worker still holds the PDF.
    screen.reset();
    document.reset();
    gate.release();
    QThreadPool& pool = *quarnkit::DroppableWork::shared().pool();
    ASSERT_TRUE(pool.waitForDone(30000));
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(DocumentMetadata::read(*pdfOf(*QuarnDocument::open(path))).title, "");
}

TEST(ViewerModelShare, AnUnchangedFileOpensTheMenuUnderTheAnchorAtOnce)
{
    Settings settings;
    QTemporaryDir files;
    const QString path = writeFile(files, "Plan.pdf", testsupport::makeTextPdf(1));
    auto document = QuarnDocument::open(path);
    auto screen = showScreen(document.get(), path, settings);
    // The Share button of the window's toolbar.
    QWidget* anchor = screen->findChild<DocumentToolbarItems*>()->shareButton();
    ASSERT_TRUE(anchor && anchor->isVisible());

    DocumentActions::of(screen->model()).shareCopy();
    auto* menu = qobject_cast<ShareMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->filePath(), path);
    EXPECT_EQ(menu->pos().y(), anchor->mapToGlobal(QPoint(0, anchor->height())).y());
    menu->close();
}
