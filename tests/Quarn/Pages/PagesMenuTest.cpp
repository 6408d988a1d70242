// The Pages menu and the page operations of a document window, driven the
// way a user drives them: keys sent to the window, menu items, the panels,
// undo and redo, then the saved file read back.
#include "Quarn/App/DocumentController.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/Pages/OutlineList.h"
#include "Quarn/Pages/PagesMenu.h"
#include "Quarn/Shell/QuarnCommands.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/PageTiles.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/App/ViewerScreen.h"
#include "Platform/PdfPageEditing.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/PageViewSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QListView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>

#include <unistd.h>

using namespace quarn;
using platform::PdfDocument;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const bool privateConfig = testsupport::usePrivateConfigDir();

// The "Page N" number on each page of a PDF, in page order.
std::vector<int> order(const PdfDocument& doc)
{
    std::vector<int> numbers;
    for (int i = 0; i < doc.pageCount(); ++i) {
        const std::string text = doc.textPage(i).text();
        const size_t at = text.find("Page ");
        numbers.push_back(at == std::string::npos ? 0 : std::atoi(text.c_str() + at + 5));
    }
    return numbers;
}

std::vector<int> order(const QString& path) { return order(*PdfDocument::openFile(path.toStdString())); }

// One document window of a five-page file, shown and active.
struct Window {
    QTemporaryDir dir;
    DocumentController controller;
    QString path;
    DocumentWindow* window = nullptr;
    QStringList keptPagesQuestions; // answered "Save Anyway"
    QString refused;                // why the last save was refused

    explicit Window(int pages = 5) : Window(testsupport::makeTextPdf(pages), pages) {}
    Window(const QByteArray& pdf, int pages)
    {
        controller.showFailure = [](const QString&, const QString&, QWidget*) {};
        controller.confirmKeptPages = [this](DocumentWindow&, const QString& text, const QString&) {
            keptPagesQuestions << text;
            return true;
        };
        controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
        controller.offerWhatStillWorks = [this](DocumentWindow&, const QString&, const QString& reason, const auto&) {
            refused = reason;
            return DocumentController::RefusalAnswer::dismiss;
        };
        path = writeFile(dir, "doc.pdf", pdf);
        window = controller.openDocument(path);
        window->show();
        QApplication::setActiveWindow(window);
        testsupport::waitFor([this, pages] { return model().pageCount() == pages; });
    }
    ~Window() { controller.closeAll(); }

    ViewerModel& model() const { return window->screen()->model(); }
    PdfDocument& pdf() const { return *pdfOf(*window->document()); }
    PageCommands& pages() const { return *window->findChild<PageCommands*>(); }
    QUndoStack& undo() const { return *window->undoStack(); }
    void key(const char* keys) const { QTest::keySequence(window, QKeySequence(keys)); }
    QMessageBox* alert() const { return window->findChild<QMessageBox*>("pageAlert"); }
};

// Eight pages and an outline: A on page 1, open, with A1 on page 2; B on
// page 5. Signed when `keys` names a folder for the signing key.
QByteArray outlinedPdf(const QString& keys = {})
{
    std::vector<std::string> objects = {
        keys.isEmpty()
            ? "<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R >>"
            : "<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R /AcroForm << /Fields [15 0 R] /SigFlags 3 >> >>",
        "<< /Type /Pages /Kids [6 0 R 7 0 R 8 0 R 9 0 R 10 0 R 11 0 R 12 0 R 13 0 R] /Count 8 "
        "/MediaBox [0 0 300 400] >>",
        "<< /Type /Outlines /First 4 0 R /Last 5 0 R /Count 3 >>",
        "<< /Title (A) /Parent 3 0 R /Next 5 0 R /Dest [6 0 R /Fit] /First 14 0 R /Last 14 0 R /Count 1 >>",
        "<< /Title (B) /Parent 3 0 R /Prev 4 0 R /Dest [10 0 R /Fit] >>",
    };
    for (int i = 0; i < 8; ++i) objects.push_back("<< /Type /Page /Parent 2 0 R >>");
    objects.push_back("<< /Title (A1) /Parent 4 0 R /Dest [7 0 R /Fit] >>");
    if (keys.isEmpty()) return testsupport::writePdf(objects);
    objects[5] = "<< /Type /Page /Parent 2 0 R /Annots [15 0 R] >>";
    objects.push_back("<< /Type /Annot /Subtype /Widget /FT /Sig /T (S) /Rect [0 0 0 0] /F 132 /P 6 0 R /V 16 0 R >>");
    objects.push_back(testsupport::unsignedSignature());
    return testsupport::signPdf(testsupport::writePdf(objects), keys);
}

// The rows of the outline as a screen reader says them: title and page.
QStringList spokenRows(const OutlineList& list)
{
    QStringList rows;
    const QAbstractItemModel* model = list.view()->model();
    for (int i = 0; i < model->rowCount(); ++i) rows << model->index(i, 0).data(Qt::AccessibleTextRole).toString();
    return rows;
}

std::vector<int> rotations(const PdfDocument& doc)
{
    std::vector<int> result;
    for (int i = 0; i < doc.pageCount(); ++i) result.push_back(doc.pageGeometry(i).rotation);
    return result;
}

QStringList titles(const QMenu& menu)
{
    QStringList out;
    for (const QAction* a : menu.actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

} // namespace

TEST(PagesMenu, StandsBeforeWindowDisabledWithoutAViewer)
{
    QMenuBar bar;
    QuarnCommands commands(&bar, nullptr);
    PageCommands pages(commands, nullptr);
    EXPECT_EQ(titles(*pages.menu()),
              (QStringList{"Rotate Left", "Rotate Right", "-", "Insert Blank Page", "Insert Pages from File…",
                           "Duplicate Page", "-", "Extract Page…", "-", "Delete Page"}));
    for (const QAction* a : pages.menu()->actions()) {
        if (!a->isSeparator()) {
            EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
        }
    }
    const QList<QAction*> menus = bar.actions();
    const auto at = [&](const QString& title) {
        for (int i = 0; i < menus.size(); ++i)
            if (menus[i]->text().remove('&') == title) return i;
        return -1;
    };
    EXPECT_GT(at("Pages"), at("Tools"));
    EXPECT_LT(at("Pages"), at("Window"));
    EXPECT_EQ(pages.rotateLeft()->shortcut(), QKeySequence("Ctrl+L"));
    EXPECT_EQ(pages.insertFromFile()->shortcut(), QKeySequence("Ctrl+Shift+I"));
}

TEST(PagesMenu, RotateKeysActOnTheSelectionAsOneNamedStep)
{
    Window w;
    PagesModel::of(w.model()).setSelectedPages({0, 2, 3});
    EXPECT_EQ(w.pages().deletePages()->text(), "Delete 3 Pages");
    w.key("Ctrl+R");
    EXPECT_EQ(rotations(w.pdf()), (std::vector<int>{90, 0, 90, 90, 0}));
    EXPECT_EQ(w.undo().undoText(), "Rotate 3 Pages");
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{0, 2, 3})); // rotating keeps the selection
    PagesModel::of(w.model()).setSelectedPages({});
    w.key("Ctrl+L");
    EXPECT_EQ(w.undo().undoText(), "Rotate Page");
    EXPECT_EQ(rotations(w.pdf())[0], 0);
    w.key("Ctrl+Z");
    w.key("Ctrl+Z");
    EXPECT_EQ(rotations(w.pdf()), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_FALSE(w.window->isDocumentEdited());
}

TEST(PagesMenu, DeleteSaveUndoSaveBringsEveryPageBackInOrder)
{
    Window w;
    PagesModel::of(w.model()).setSelectedPages({1, 3});
    // The item shows no key: Delete deletes pages in the page list only (its
    // own menu shows the key); on the page view it belongs to the selected mark.
    QuarnPDFView* view = w.window->screen()->pageViewHost()->view();
    view->setFocus();
    ASSERT_TRUE(testsupport::waitFor([&] { return view->hasFocus(); }));
    EXPECT_TRUE(w.pages().deletePages()->shortcut().isEmpty());
    for (const char* key : {"Del", "Backspace"}) w.key(key);
    QApplication::processEvents();
    EXPECT_EQ(w.pdf().pageCount(), 5);
    EXPECT_EQ(w.undo().count(), 0);

    w.pages().deletePages()->trigger();
    EXPECT_EQ(w.undo().undoText(), "Delete 2 Pages");
    EXPECT_TRUE(PagesModel::of(w.model()).selectedPages().empty());
    ASSERT_TRUE(w.window->save());
    EXPECT_EQ(order(w.path), (std::vector<int>{1, 3, 5}));
    w.key("Ctrl+Z");
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{1, 3})); // put back, selected and shown
    EXPECT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 1; }));
    ASSERT_TRUE(w.window->save());
    EXPECT_EQ(order(w.path), (std::vector<int>{1, 2, 3, 4, 5}));
    w.key("Ctrl+Shift+Z");
    EXPECT_EQ(w.undo().undoText(), "Delete 2 Pages");
    EXPECT_EQ(order(w.pdf()), (std::vector<int>{1, 3, 5}));
}

TEST(PagesMenu, DeletingEveryPageIsDisabledAndRefused)
{
    Window w(2);
    PagesModel::of(w.model()).setSelectedPages({0, 1});
    w.pages().refresh();
    EXPECT_FALSE(w.pages().deletePages()->isEnabled());
    EXPECT_TRUE(w.pages().duplicate()->isEnabled());
    PagesModel::of(w.model()).deletePages();
    QMessageBox* alert = w.alert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "ravlen didn't delete those pages.");
    EXPECT_EQ(alert->informativeText(), "A PDF needs at least one page.");
    EXPECT_EQ(w.pdf().pageCount(), 2);
    EXPECT_EQ(w.undo().count(), 0);
}

TEST(PagesMenu, DuplicateAndInsertBlankSelectWhatTheyPutIn)
{
    Window w;
    PagesModel::of(w.model()).setSelectedPages({1, 3});
    EXPECT_EQ(w.pages().duplicate()->text(), "Duplicate 2 Pages");
    w.pages().duplicate()->trigger();
    EXPECT_EQ(order(w.pdf()), (std::vector<int>{1, 2, 3, 4, 2, 4, 5}));
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{4, 5}));
    EXPECT_EQ(w.undo().undoText(), "Duplicate 2 Pages");
    w.key("Ctrl+Shift+N");
    EXPECT_EQ(w.undo().undoText(), "Insert Blank Page");
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{6}));
    EXPECT_EQ(order(w.pdf())[6], 0);
    EXPECT_TRUE(w.window->isDocumentEdited());

    // The same in the document Revert reads afresh.
    ASSERT_TRUE(w.window->revert());
    PagesModel::of(w.model()).setSelectedPages({1});
    w.key("Ctrl+Shift+N");
    EXPECT_EQ(order(w.pdf()), (std::vector<int>{1, 2, 0, 3, 4, 5}));
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{2}));
}

TEST(PagesMenu, InsertingThreeFilesOfWhichOneIsTextIsOneStepAndOneComplaint)
{
    Window w;
    const QString pdf = writeFile(w.dir, "two.pdf", testsupport::makeTextPdf(2, "other"));
    const QString notes = writeFile(w.dir, "notes.txt", "words");
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::green);
    const QString png = w.dir.filePath("green.png");
    ASSERT_TRUE(picture.save(png));
    // The files are read on a worker; the window goes on meanwhile.
    PagesModel::of(w.model()).insertPages({pdf, notes, png}, 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.undo().undoText() == "Insert 3 Pages"; }));
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{1, 2, 3}));
    EXPECT_EQ(w.pdf().pageGeometry(3).displaySize, (platform::PdfSize{40, 30}));
    QMessageBox* alert = w.alert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "Some files weren't added.");
    EXPECT_EQ(alert->informativeText(),
              "“notes.txt” isn't a PDF or an image. ravlen adds PDF, PNG, JPEG, HEIC, and TIFF files.");
    delete alert;
    // The alert had the window's keys while it showed.
    QApplication::setActiveWindow(w.window);
    w.key("Ctrl+Z");
    EXPECT_EQ(order(w.pdf()), (std::vector<int>{1, 2, 3, 4, 5}));
    PagesModel::of(w.model()).insertPages({notes}, 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.alert() != nullptr; }));
    EXPECT_EQ(w.alert()->text(), "That file wasn't added.");
}

TEST(PagesMenu, TheInsertPanelAsksForFilesAfterTheLastTarget)
{
    Window w;
    const QString pdf = writeFile(w.dir, "one.pdf", testsupport::makeTextPdf(1, "other"));
    PagesModel::of(w.model()).setSelectedPages({1, 4});
    w.key("Ctrl+Shift+I");
    QFileDialog* panel = w.window->findChild<QFileDialog*>();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->windowTitle(), "Insert Pages");
    EXPECT_EQ(panel->labelText(QFileDialog::Accept), "Insert");
    EXPECT_EQ(panel->findChild<QLabel*>("panelMessage")->text(), "Choose PDFs or images to add after page 5.");
    panel->selectFile(pdf);
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(testsupport::waitFor([&] { return w.pdf().pageCount() == 6; }));
    EXPECT_EQ(order(w.pdf()), (std::vector<int>{1, 2, 3, 4, 5, 1}));
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{5}));
}

TEST(PagesMenu, AScreenshotWithTransparencyInsertedThroughThePanelIsSaved)
{
    // A window's screenshot, opaque but for its round corners: the writer
    // keeps their transparency as a 1-bit soft mask, stored as fax data.
    // Inserted through the panel and saved with the window's key, poppler
    // draws it on the page, white at its corners.
    Window w;
    QImage shot(200, 150, QImage::Format_ARGB32);
    shot.fill(qRgb(30, 120, 200));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x + y < 12; ++x) shot.setPixel(x, y, qRgba(0, 0, 0, 0));
    const QString png = w.dir.filePath("screenshot.png");
    ASSERT_TRUE(shot.save(png));
    w.key("Ctrl+Shift+I");
    QFileDialog* panel = w.window->findChild<QFileDialog*>();
    ASSERT_TRUE(panel);
    panel->selectFile(png);
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(testsupport::waitFor([&] { return w.pdf().pageCount() == 6; }));
    QApplication::setActiveWindow(w.window);
    w.key("Ctrl+S");
    ASSERT_TRUE(testsupport::waitFor([&] { return !w.window->isDocumentEdited() || !w.refused.isEmpty(); }));
    ASSERT_TRUE(w.refused.isEmpty()) << w.refused.toStdString();
    const QImage page = testsupport::popplerPage(w.path, 1, 72);
    ASSERT_EQ(page.size(), QSize(200, 150));
    EXPECT_EQ(page.pixelColor(100, 75), QColor(30, 120, 200));
    EXPECT_EQ(page.pixelColor(1, 1), QColor(Qt::white));
}

TEST(PagesMenu, InsertedPagesShowTheLayersTheirFileShowsAndUndoTakesThemAway)
{
    // The pages of a file in layers inserted through the panel into one whose
    // own layers of the same names show the other way round: the page view
    // draws each page as its own file shows it (the inserted page's blue
    // square, not the hidden grey one over it, nor the hidden red one; the
    // document's own page the other way), and so does poppler once saved.
    // Undone and saved, the file's layers are as they were.
    Window w(testsupport::layeredPdf(true), 2);
    const QString layersBefore = testsupport::catalogEntry(w.path, "/OCProperties");
    const QString layered = writeFile(w.dir, "layered.pdf", testsupport::layeredPdf());
    QuarnPDFView* view = w.window->screen()->pageViewHost()->view();
    view->setScaleFactor(0.25);
    ASSERT_TRUE(testsupport::waitFor([&] { return view->tiles().visibleReady(); })); // the layers are read
    w.key("Ctrl+Shift+I");
    QFileDialog* panel = w.window->findChild<QFileDialog*>();
    ASSERT_TRUE(panel);
    panel->selectFile(layered);
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(testsupport::waitFor([&] { return w.pdf().pageCount() == 4; }));
    EXPECT_EQ(w.undo().undoText(), "Insert 2 Pages");
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{1, 2})); // after page 1
    // The blue square, under the grey one of the other layer, and the red one of that layer alone.
    const auto colours = [&](int page) {
        view->revealPage(page);
        EXPECT_TRUE(testsupport::waitFor([&] { return view->tiles().visibleReady(); }));
        const testsupport::Shot shot(*view->viewport());
        const auto at = [&](double x, double y) {
            return shot.at(view->placement().convertFromPage(platform::PdfPoint{x, y}, page));
        };
        return std::pair(at(172, 480), at(400, 450));
    };
    const auto [square, red] = colours(1);
    EXPECT_TRUE(square.blue() > 180 && square.red() < 90) << square.name().toStdString();
    EXPECT_EQ(red, QColor(Qt::white)) << red.name().toStdString();
    const auto [ownSquare, ownRed] = colours(0);
    EXPECT_TRUE(ownSquare.red() > 100 && ownSquare.red() < 160 && ownSquare.blue() < 160)
        << ownSquare.name().toStdString();
    EXPECT_TRUE(ownRed.red() > 200 && ownRed.green() < 80) << ownRed.name().toStdString();

    ASSERT_TRUE(w.window->save());
    const auto words = [&](int page) {
        const QString number = QString::number(page + 1);
        return testsupport::runProgram("pdftotext", {"-f", number, "-l", number, w.path, "-"});
    };
    EXPECT_TRUE(words(1).contains("Visible layer words"));
    EXPECT_FALSE(words(1).contains("Hidden layer words"));
    EXPECT_TRUE(words(0).contains("Hidden layer words"));
    EXPECT_FALSE(words(0).contains("Visible layer words"));
    for (const int page : {0, 1})
        EXPECT_LT(testsupport::meanDifference(testsupport::popplerPage(w.path, page + 1),
                                              testsupport::popplerPage(layered, page)),
                  1.0)
            << "inserted page " << page + 1;

    QApplication::setActiveWindow(w.window);
    w.key("Ctrl+Z");
    ASSERT_EQ(w.pdf().pageCount(), 2);
    ASSERT_TRUE(w.window->save());
    EXPECT_EQ(testsupport::catalogEntry(w.path, "/OCProperties"), layersBefore);
}

TEST(PagesMenu, ExtractWritesTheTargetsToANewFile)
{
    Window w;
    QString revealed;
    PagesModel::of(w.model()).revealFile = [&](const QString& path) { revealed = path; };
    PagesModel::of(w.model()).setSelectedPages({0, 2});
    EXPECT_EQ(w.pages().extract()->text(), "Extract 2 Pages…");
    w.pages().extract()->trigger();
    QFileDialog* panel = w.window->findChild<QFileDialog*>();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->windowTitle(), "Extract 2 Pages");
    EXPECT_EQ(panel->selectedFiles().value(0).section('/', -1), "doc pages 1, 3.pdf");
    panel->reject();

    const QString out = w.dir.filePath("out.pdf");
    PagesModel::of(w.model()).finishExtract(out, {0, 2}, *w.window->document());
    ASSERT_TRUE(testsupport::waitFor([&] { return !revealed.isEmpty(); }));
    EXPECT_EQ(revealed, out);
    EXPECT_EQ(order(out), (std::vector<int>{1, 3}));
    EXPECT_EQ(w.undo().count(), 0); // the document itself is unchanged

    // A failure is told as every other save is, in the user's words.
    const QString readOnly = writeFile(w.dir, "kept.pdf", "kept");
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
    QDir(w.dir.path()).mkdir("folder.pdf");
    const struct {
        QString path;
        QString detail;
    } failures[] = {
        {w.dir.filePath("no/such/folder/out.pdf"),
         "ravlen couldn't save \"out.pdf\". The folder it would go in doesn't exist."},
        {readOnly, "ravlen couldn't save \"kept.pdf\". You don't have permission to save there."},
        {w.dir.filePath("folder.pdf"), "ravlen couldn't save \"folder.pdf\". That name is a folder."},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.path.toStdString());
        PagesModel::of(w.model()).finishExtract(failure.path, {0}, *w.window->document());
        ASSERT_TRUE(testsupport::waitFor([&] { return w.alert() != nullptr; }));
        EXPECT_EQ(w.alert()->text(), "Extract didn't finish.");
        EXPECT_EQ(w.alert()->informativeText(), failure.detail);
        delete w.alert();
    }
    EXPECT_EQ(readFile(readOnly), "kept");
}

TEST(PagesMenu, ExtractOverTheOpenDocumentsOwnFileIsRefused)
{
    Window w;
    QString revealed;
    PagesModel::of(w.model()).revealFile = [&](const QString& path) { revealed = path; };
    const QByteArray before = readFile(w.path);
    // Another name for the very same file (same device and inode).
    const QString second = w.dir.filePath("second name.pdf");
    ASSERT_EQ(::link(QFile::encodeName(w.path).constData(), QFile::encodeName(second).constData()), 0);
    for (const QString& target : {w.path, second}) {
        SCOPED_TRACE(target.toStdString());
        PagesModel::of(w.model()).finishExtract(target, {1}, *w.window->document());
        ASSERT_TRUE(testsupport::waitFor([&] { return w.alert() != nullptr; }));
        EXPECT_EQ(w.alert()->text(), "Extract didn't finish.");
        EXPECT_TRUE(w.alert()->informativeText().startsWith("That is the PDF open in this window"));
        delete w.alert();
    }
    EXPECT_EQ(readFile(w.path), before);
    EXPECT_TRUE(revealed.isEmpty());
    EXPECT_EQ(w.pdf().pageCount(), 5);
}

TEST(PagesMenu, ADocumentWithoutPagesCanOnlyBeInsertedInto)
{
    // A file with no pages (made by qpdf, as ravlen saves none such): the
    // window shows its message and builds no page view.
    QTemporaryDir made;
    int code = -1;
    testsupport::runProgram(QStringLiteral("qpdf"), {"--empty", made.filePath("empty.pdf")}, &code);
    ASSERT_EQ(code, 0);
    Window w(readFile(made.filePath("empty.pdf")), 0);
    ViewerScreen& screen = *w.window->screen();
    const auto shows = [&](ViewerScreen::Content content, int pages) {
        return testsupport::waitFor([&] {
            return screen.content() == content && (screen.pageViewHost() != nullptr) == (pages > 0)
                   && w.window->document()->pageCount() == pages && (pages == 0 || w.model().pageCount() == pages);
        });
    };
    ASSERT_TRUE(shows(ViewerScreen::Content::noPages, 0));
    emit w.pages().menu()->aboutToShow();
    EXPECT_TRUE(w.pages().insertBlank()->isEnabled());
    EXPECT_TRUE(w.pages().insertFromFile()->isEnabled());
    for (QAction* a : {w.pages().rotateLeft(), w.pages().duplicate(), w.pages().extract(), w.pages().deletePages()})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();

    // Insert Blank Page by its key: the page and its view appear; undo and redo follow.
    w.key("Ctrl+Shift+N");
    ASSERT_TRUE(shows(ViewerScreen::Content::document, 1));
    EXPECT_EQ(w.pdf().pageGeometry(0).displaySize, (platform::PdfSize{612, 792}));
    EXPECT_EQ(w.undo().undoText(), "Insert Blank Page");
    w.key("Ctrl+Z");
    ASSERT_TRUE(shows(ViewerScreen::Content::noPages, 0));
    w.key("Ctrl+Shift+Z");
    ASSERT_TRUE(shows(ViewerScreen::Content::document, 1));
    w.key("Ctrl+Z");
    ASSERT_TRUE(shows(ViewerScreen::Content::noPages, 0));

    // Insert Pages from File, through its panel: the file's page goes at the start.
    const QString other = writeFile(w.dir, "other.pdf", testsupport::makeTextPdf(1));
    w.key("Ctrl+Shift+I");
    QFileDialog* panel = w.window->findChild<QFileDialog*>();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->findChild<QLabel*>("panelMessage")->text(), "Choose PDFs or images to add at the start.");
    panel->selectFile(other);
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(shows(ViewerScreen::Content::document, 1));
    EXPECT_EQ(order(w.pdf()), (std::vector<int>{1}));
    EXPECT_EQ(w.undo().undoText(), "Insert Page");
    QApplication::setActiveWindow(w.window); // back from the panel
    w.key("Ctrl+Z");
    ASSERT_TRUE(shows(ViewerScreen::Content::noPages, 0));
}

TEST(PagesMenu, AnEditWithoutAWindowStillMarksTheDocumentChanged)
{
    auto document = std::make_unique<quarnkit::QuarnDocument>(PdfDocument::openBytes(testsupport::makeTextPdf(3)));
    ViewerModel model;
    model.setDocument(document.get());
    PagesModel::of(model).setSelectedPages({1});
    PagesModel::of(model).deletePages();
    EXPECT_EQ(document->pageCount(), 2);
    EXPECT_FALSE(document->undoStack().isClean());
}

TEST(PagesMenu, MovingAwayFromASelectionOfSeveralPagesClearsIt)
{
    Window w;
    PagesModel::of(w.model()).setSelectedPages({1, 2});
    PagesModel::of(w.model()).goToPageFromSidebar(2); // asked for by the page list: the selection stays
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 2; }));
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{1, 2}));
    w.window->screen()->pageViewHost()->view()->goToPage(4); // scrolled there by the user
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 4; }));
    EXPECT_TRUE(PagesModel::of(w.model()).selectedPages().empty());
    // So the keys act on the page in sight.
    w.key("Ctrl+R");
    EXPECT_EQ(rotations(w.pdf()), (std::vector<int>{0, 0, 0, 0, 90}));
}

TEST(PagesMenu, MovedPagesAreOneStepThatUndoPutsBack)
{
    Window w;
    PagesModel::of(w.model()).movePages({0, 2}, 5);
    EXPECT_EQ(order(w.pdf()), (std::vector<int>{2, 4, 5, 1, 3}));
    EXPECT_EQ(w.undo().undoText(), "Move 2 Pages");
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{3, 4}));
    w.key("Ctrl+Z");
    EXPECT_EQ(order(w.pdf()), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(PagesModel::of(w.model()).selectedPages(), (std::set<int>{0, 2}));
}

// Back (Ctrl+[) after pages are moved in the window goes to a page the
// reader was on, at its new number, not to the page its old number holds now.
TEST(PagesMenu, BackAfterPagesMovedGoesWhereThePageIsNow)
{
    Window w(10);
    QuarnPDFView* view = w.window->screen()->pageViewHost()->view();
    view->goToPage(5);
    view->goToPage(8);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 8; }));
    PagesModel::of(w.model()).movePages({5}, 0);
    ASSERT_EQ(order(w.pdf()), (std::vector<int>{6, 1, 2, 3, 4, 5, 7, 8, 9, 10}));
    // Wherever the move showed the pages, Back goes to pages read before:
    // the sixth, now first, then the first, now second.
    std::vector<int> shown;
    for (int i = 0; i < 3 && w.model().canGoBack(); ++i) {
        w.key("Ctrl+[");
        QApplication::processEvents();
        shown.push_back(order(w.pdf())[std::size_t(view->currentPageIndex())]);
    }
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(std::vector<int>(shown.end() - 2, shown.end()), (std::vector<int>{6, 1}));
}

TEST(PagesMenu, SidebarTabItemsShowTheSidebarOnTheirTabAndRememberIt)
{
    Window w;
    PageCommands& pages = w.pages();
    QMenu* view = w.window->findChild<QuarnCommands*>()->menu("View");
    ASSERT_TRUE(view);
    const QStringList items = titles(*view);
    const int at = int(items.indexOf("Pages"));
    ASSERT_GE(at, 2);
    EXPECT_EQ(items.mid(at - 1, 5), (QStringList{"-", "Pages", "Outline", "Marks", "-"}));
    EXPECT_EQ(pages.sidebarToggle(quarnkit::SidebarTab::marks)->shortcut(), QKeySequence("Ctrl+Alt+3"));

    PagesModel::of(w.model()).setSidebar(false);
    PagesModel::of(w.model()).setLibraryPanel(LibraryPanel::history);
    w.key("Ctrl+Alt+2");
    EXPECT_TRUE(PagesModel::of(w.model()).sidebar());
    EXPECT_EQ(PagesModel::of(w.model()).libraryPanel(), LibraryPanel::document);
    EXPECT_EQ(PagesModel::of(w.model()).sidebarTab(), quarnkit::SidebarTab::outline);
    EXPECT_TRUE(pages.sidebarToggle(quarnkit::SidebarTab::outline)->isChecked());
    EXPECT_FALSE(pages.sidebarToggle(quarnkit::SidebarTab::pages)->isChecked());
    w.key("Ctrl+Alt+2"); // the tab already on: the sidebar stays
    EXPECT_TRUE(PagesModel::of(w.model()).sidebar());
    // The next window starts on it.
    ViewerModel next;
    EXPECT_EQ(PagesModel::of(next).sidebarTab(), quarnkit::SidebarTab::outline);
}

TEST(PagesMenu, APageTurnedInViewStaysInView)
{
    Window w;
    QuarnPDFView* view = w.window->screen()->pageViewHost()->view();
    view->goToPage(2);
    ASSERT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 2; }));
    for (const char* keys : {"Ctrl+L", "Ctrl+L", "Ctrl+R"}) {
        w.key(keys);
        QApplication::processEvents();
        EXPECT_EQ(view->currentPageIndex(), 2) << keys;
        EXPECT_TRUE(view->placement().pageRect(2).intersects(QRectF(view->viewport()->rect()))) << keys;
    }
    EXPECT_EQ(rotations(w.pdf())[2], 270);
    w.key("Ctrl+Z");
    QApplication::processEvents();
    EXPECT_EQ(view->currentPageIndex(), 2);
}

namespace {

// The outline follows the pages as a blank page goes in and a page goes out,
// and as each is undone: every row names and opens its entry's page of the
// moment (the deleted page's entry none), the open entries stay open and
// the keys stay on their row. The saved file's outline reads so too, also
// after a signed file's save by update, which says once before it that the
// earlier version keeps the page.
void outlineFollowsPageEditsAndTheirUndo(const QString& keys)
{
    const bool signedFile = !keys.isEmpty();
    Window w(outlinedPdf(keys), 8);
    ASSERT_EQ(pdfOf(*w.window->document())->isSigned(), signedFile);
    w.key("Ctrl+Alt+2");
    OutlineList* list = nullptr;
    ASSERT_TRUE(testsupport::waitFor([&] {
        list = w.window->findChild<OutlineList*>();
        return list && list->map() && list->view()->isVisible();
    }));
    const QStringList original{"A, page 1", "A1, page 2", "B, page 5"};
    ASSERT_EQ(spokenRows(*list), original);
    const std::set<quarnkit::OutlinePath> open{{0}};
    ASSERT_EQ(list->expanded(), open);
    list->view()->setFocus();
    ASSERT_TRUE(testsupport::waitFor([&] { return list->view()->hasFocus(); }));
    QTest::keyClick(w.window->windowHandle(), Qt::Key_Down);
    ASSERT_EQ(list->keyRow(), (quarnkit::OutlinePath{0, 0}));

    w.key("Ctrl+Shift+N"); // a blank page after page 1
    ASSERT_EQ(w.pdf().pageCount(), 9);
    EXPECT_EQ(spokenRows(*list), (QStringList{"A, page 1", "A1, page 3", "B, page 6"}));
    EXPECT_EQ(list->expanded(), open);
    EXPECT_EQ(list->keyRow(), (quarnkit::OutlinePath{0, 0}));
    EXPECT_EQ(list->view()->currentIndex().row(), 1);
    QTest::keyClick(w.window->windowHandle(), Qt::Key_Return);
    EXPECT_TRUE(testsupport::waitFor([&] { return w.model().pageIndex() == 2; }));

    w.key("Ctrl+Z");
    ASSERT_EQ(w.pdf().pageCount(), 8);
    EXPECT_EQ(spokenRows(*list), original);
    EXPECT_EQ(list->expanded(), open);

    // Page 2 out: A1 leads nowhere while it is, in the window and in the file.
    PagesModel::of(w.model()).setSelectedPages({1});
    w.pages().deletePages()->trigger();
    ASSERT_EQ(w.pdf().pageCount(), 7);
    EXPECT_EQ(spokenRows(*list), (QStringList{"A, page 1", "A1", "B, page 4"}));
    EXPECT_EQ(list->expanded(), open);
    ASSERT_TRUE(w.window->save());
    EXPECT_EQ(w.keptPagesQuestions.size(), signedFile ? 1 : 0);
    const auto saved = PdfDocument::openFile(w.path.toStdString())->outline();
    ASSERT_EQ(saved.size(), 2u);
    ASSERT_EQ(saved[0].children.size(), 1u);
    EXPECT_FALSE(saved[0].children[0].page);
    EXPECT_EQ(saved[1].page, 3);
    w.key("Ctrl+Shift+N"); // another edit while the page is out, saved without asking again
    ASSERT_TRUE(w.window->save());
    EXPECT_EQ(w.keptPagesQuestions.size(), signedFile ? 1 : 0);

    w.key("Ctrl+Z");
    w.key("Ctrl+Z");
    ASSERT_EQ(w.pdf().pageCount(), 8);
    EXPECT_EQ(spokenRows(*list), original);
    EXPECT_EQ(list->expanded(), open);
    EXPECT_EQ(list->keyRow(), (quarnkit::OutlinePath{0, 0}));
    // Saved again, the entry leads to its page in the file.
    ASSERT_TRUE(w.window->save());
    const auto back = PdfDocument::openFile(w.path.toStdString())->outline();
    ASSERT_EQ(back.size(), 2u);
    ASSERT_EQ(back[0].children.size(), 1u);
    EXPECT_EQ(back[0].children[0].page, 1);
    EXPECT_TRUE(!signedFile || testsupport::signatureHolds(w.path));
}

} // namespace

TEST(PagesMenu, TheOutlineFollowsPageEditsAndTheirUndo)
{
    QTemporaryDir keys;
    for (const QString& signedBy : {QString(), keys.path()}) {
        SCOPED_TRACE(signedBy.isEmpty() ? "plain" : "signed");
        outlineFollowsPageEditsAndTheirUndo(signedBy);
    }
}

// Deleting the page a signed file's signature sits on, then saving, keeps
// the signed bytes as the file's start, after the question; so does a save
// once the deletion is undone.
TEST(PagesMenu, ASignedFileStaysSignedThroughADeletedSignedPage)
{
    QTemporaryDir keys;
    Window w(outlinedPdf(keys.path()), 8);
    const QByteArray signedBytes = readFile(w.path);
    PagesModel::of(w.model()).setSelectedPages({0});
    w.pages().deletePages()->trigger();
    ASSERT_EQ(w.pdf().pageCount(), 7);
    ASSERT_TRUE(w.window->save()) << w.refused.toStdString();
    EXPECT_EQ(w.keptPagesQuestions.size(), 1);
    EXPECT_TRUE(readFile(w.path).startsWith(signedBytes));
    w.key("Ctrl+Z");
    ASSERT_EQ(w.pdf().pageCount(), 8);
    ASSERT_TRUE(w.window->save()) << w.refused.toStdString();
    EXPECT_TRUE(readFile(w.path).startsWith(signedBytes));
    EXPECT_TRUE(testsupport::signaturesValid(w.path));
}
