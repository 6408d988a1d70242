// Damaged and crafted files in a document window, met as a user meets them:
// keys sent to the window, the file on disk compared byte for byte.
#include "Platform/PdfAnnotations.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/Viewer/Canvas.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Viewer/ViewerScreen.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QUndoStack>

#include <sys/stat.h>

using namespace quarn;
using quarnkit::QuarnDocument;

namespace {

const bool privateConfig = testsupport::usePrivateConfigDir();

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Inode and modification time: a file written again, even with the same bytes, shows.
std::pair<ino_t, qint64> stampOf(const QString& path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return {info.st_ino, qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// A controller whose questions are answered and recorded here.
struct Controller {
    DocumentController controller;
    std::vector<std::pair<QString, QString>> failures;  // text, reason
    std::vector<std::pair<QString, QString>> saveAsOffers; // text, reason
    Controller()
    {
        controller.showFailure = [this](const QString& text, const QString& reason, QWidget*) {
            failures.emplace_back(text, reason);
        };
        controller.offerSaveAs = [this](DocumentWindow&, const QString& text, const QString& reason) {
            saveAsOffers.emplace_back(text, reason);
            return false; // Cancel
        };
        controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    }
    ~Controller() { controller.closeAll(); }

    DocumentWindow* open(const QString& path)
    {
        DocumentWindow* window = controller.openDocument(path);
        if (!window) return nullptr;
        QApplication::setActiveWindow(window);
        testsupport::waitFor([window] { return window->screen()->canvas() && window->screen()->canvas()->view(); });
        return window;
    }
};

void key(DocumentWindow* window, const char* keys) { QTest::keySequence(window, QKeySequence(keys)); }

// The alert the page view shows, with its informative text; empty when none.
QString viewAlert(DocumentWindow* window)
{
    for (QMessageBox* box : window->findChildren<QMessageBox*>())
        if (box->isVisible()) return box->informativeText();
    return {};
}

} // namespace

TEST(HostileFiles, AWindowOnAPageThatNeverFinishesShowsAtOnceAndClosesOnCtrlW)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "endless.pdf", testsupport::makeEndlessPagePdf());
    Controller c;
    QElapsedTimer clock;
    clock.start();
    QPointer<DocumentWindow> window = c.open(path);
    ASSERT_TRUE(window);
    // The page view and the thumbnails read page 1 on workers, for ever.
    ASSERT_TRUE(testsupport::waitFor([&] { return window->isVisible(); }, 2000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(window->document()->pageCount(), 2);
    // The window answers its keys meanwhile.
    key(window, "Ctrl+W");
    ASSERT_TRUE(testsupport::waitFor([&] { return !window; }, 2000)) << "the window did not close";
    // Closed, the document's page work stops: nothing is left reading page 1.
    EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(10000));
}

TEST(HostileFiles, AFileThatHadToBeRepairedIsKeptAndCtrlSOffersSaveAs)
{
    QTemporaryDir dir;
    // Its cross-reference table is nowhere near where the file says.
    QByteArray damaged = testsupport::makeTextPdf(3, "kept words");
    const qsizetype at = damaged.lastIndexOf("startxref\n") + 10;
    damaged.replace(at, damaged.indexOf('\n', at) - at, "12");
    const QString path = writeFile(dir, "repaired.pdf", damaged);
    Controller c;
    DocumentWindow* window = c.open(path);
    ASSERT_TRUE(window);
    const auto before = stampOf(path);

    // Nothing changed: Ctrl+S writes nothing, asks nothing.
    key(window, "Ctrl+S");
    EXPECT_EQ(stampOf(path), before);
    EXPECT_TRUE(c.saveAsOffers.empty());

    window->screen()->model().insertCheckmark();
    ASSERT_TRUE(window->isDocumentEdited());
    key(window, "Ctrl+S");
    ASSERT_EQ(c.saveAsOffers.size(), 1u);
    EXPECT_EQ(c.saveAsOffers[0].first, "The document “repaired.pdf” could not be saved.");
    EXPECT_TRUE(c.saveAsOffers[0].second.startsWith("ravlen had to repair this PDF to open it"));
    EXPECT_EQ(readFile(path), damaged);
    EXPECT_EQ(stampOf(path), before);
    EXPECT_TRUE(window->isDocumentEdited());

    // Another file takes every page, word and the mark.
    const QString copy = dir.filePath("copy.pdf");
    ASSERT_TRUE(window->saveAs(copy));
    EXPECT_FALSE(window->isDocumentEdited());
    const auto saved = QuarnDocument::open(copy);
    ASSERT_EQ(saved->pageCount(), 3);
    for (int page = 0; page < 3; ++page)
        EXPECT_NE(saved->pdf()->textPage(page).text().find("kept words"), std::string::npos);
    int marks = 0;
    for (int page = 0; page < 3; ++page) marks += int(platform::PdfAnnotations::list(*saved->pdf(), page).size());
    EXPECT_EQ(marks, 1);
    EXPECT_EQ(readFile(path), damaged);
}

TEST(HostileFiles, APageWithoutADictionaryTakesNoMarkAndSaysWhy)
{
    QTemporaryDir dir;
    // Page 2 is object 5, which the file does not hold.
    const QString path = writeFile(
        dir, "lost page.pdf",
        testsupport::writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>",
                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>", "<< /Unused true >>"}));
    Controller c;
    DocumentWindow* window = c.open(path);
    ASSERT_TRUE(window);
    ASSERT_EQ(window->document()->pageCount(), 2);
    QuarnPDFView* view = window->screen()->canvas()->view();
    view->goToPage(1);
    ASSERT_TRUE(testsupport::waitFor([&] { return view->currentPageIndex() == 1; }));
    window->screen()->model().insertCheckmark();
    EXPECT_EQ(viewAlert(window), "Page 2 of this PDF is damaged, so ravlen can't add marks to it.");
    EXPECT_FALSE(window->isDocumentEdited());
    EXPECT_EQ(window->undoStack()->count(), 0);
    const auto before = stampOf(path);
    key(window, "Ctrl+S");
    EXPECT_EQ(stampOf(path), before);
}
