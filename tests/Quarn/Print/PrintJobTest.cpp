#include "Quarn/App/PageViewHost.h"
#include "Quarn/Print/PrintJob.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "Platform/PrivateFiles.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QMessageBox>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace viewertest;
using quarnkit::QuarnDocument;

namespace {

// What another program reads from a PDF file: pdfinfo's page count and pdftotext's words.
struct Reading {
    int pages = -1;
    QString text;
};

Reading readWithPoppler(const QString& path)
{
    Reading reading;
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {path});
    info.waitForFinished(30000);
    for (const QString& line : QString::fromUtf8(info.readAllStandardOutput()).split('\n'))
        if (line.startsWith(QStringLiteral("Pages:"))) reading.pages = line.mid(6).trimmed().toInt();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    text.waitForFinished(30000);
    reading.text = QString::fromUtf8(text.readAllStandardOutput());
    return reading;
}

// The pages as the print dialog leaves them chosen: "Pages from 2 to 3", say.
void choosePages(QPrinter& printer, int from, int to)
{
    printer.setPrintRange(QPrinter::PageRange);
    printer.setPageRanges(QPageRanges());
    printer.setFromTo(from, to);
}

struct Window {
    Settings settings;
    std::unique_ptr<QuarnDocument> document =
        QuarnDocument::fromData(testsupport::makeDarkPagesPdf(std::vector<std::pair<int, int>>(4, {612, 792})));
    std::unique_ptr<quarn::ViewerScreen> screen = showScreen(document.get(), QString(), settings);
    quarn::QuarnPDFView* view() const { return screen->pageViewHost()->view(); }
};

} // namespace

TEST(Printing, ToAPdfFileWritesTheChosenPagesAsPdfPagesWithTheirText)
{
    Window window;
    QTemporaryDir dir;
    const struct {
        int from, to;
        int pages;
        std::vector<const char*> shown, left;
    } cases[] = {
        {2, 2, 1, {"Page 2"}, {"Page 1", "Page 3", "Page 4"}},
        {3, 4, 2, {"Page 3", "Page 4"}, {"Page 1", "Page 2"}},
        {0, 0, 4, {"Page 1", "Page 4"}, {}}, // every page
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString path = dir.filePath(QStringLiteral("printed-%1.pdf").arg(++n));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        if (c.from > 0) choosePages(printer, c.from, c.to);
        ASSERT_TRUE(quarn::printing::print(*window.view(), printer));
        ASSERT_TRUE(testsupport::waitFor([&] { return QFileInfo::exists(path); }));
        // Text stays text: the words come back out of the printed file.
        const Reading reading = readWithPoppler(path);
        EXPECT_EQ(reading.pages, c.pages) << path.toStdString();
        for (const char* word : c.shown) EXPECT_TRUE(reading.text.contains(word)) << word;
        for (const char* word : c.left) EXPECT_FALSE(reading.text.contains(word)) << word;
    }
}

TEST(Printing, APrinterGetsThePdfOfTheChosenPagesThroughCups)
{
    // A stand-in for CUPS's lp: it keeps the file it is given and its arguments,
    // each moved into place whole so the test never reads a half-written one.
    QTemporaryDir bin;
    const QString kept = bin.filePath("spooled.pdf"), arguments = bin.filePath("arguments.txt");
    {
        QFile script(bin.filePath("lp"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\nfor last; do :; done\ncp \"$last\" '%2.part' && mv '%2.part' '%2'\n"
                                    "printf '%s\\n' \"$@\" > '%1.part' && mv '%1.part' '%1'\n")
                         .arg(arguments, kept)
                         .toUtf8());
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ":" + path);

    Window window;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFileName(QString());
    printer.setPageSize(QPageSize(QPageSize::Letter));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setCopyCount(2);
    choosePages(printer, 2, 3);
    ASSERT_TRUE(quarn::printing::print(*window.view(), printer));
    const bool spooled = testsupport::waitFor([&] { return QFileInfo::exists(arguments) && QFileInfo::exists(kept); });
    qputenv("PATH", path);
    ASSERT_TRUE(spooled);

    const Reading reading = readWithPoppler(kept);
    EXPECT_EQ(reading.pages, 2);
    EXPECT_TRUE(reading.text.contains("Page 2") && reading.text.contains("Page 3")) << reading.text.toStdString();
    EXPECT_FALSE(reading.text.contains("Page 1"));
    QFile list(arguments);
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    const QStringList given = QString::fromUtf8(list.readAll()).split('\n', Qt::SkipEmptyParts);
    // Two copies asked of the spooler (no printer of that name exists here),
    // on the paper chosen, printed as they are: the sheets carry the margins.
    ASSERT_GE(given.indexOf("-n"), 0);
    EXPECT_EQ(given.value(given.indexOf("-n") + 1), "2");
    EXPECT_TRUE(given.contains("media=Letter")) << given.join(' ').toStdString();
    EXPECT_TRUE(given.contains("print-scaling=none")) << given.join(' ').toStdString();
    // Each page on a Letter sheet, fitted inside 36 points of white on every
    // side and centred: 540 points wide from x = 36, 698.8 high from y = 46.6.
    const QString sheet = bin.filePath("sheet");
    int code = -1;
    testsupport::runProgram(QStringLiteral("pdftoppm"),
                            {"-r", "72", "-f", "1", "-l", "1", "-singlefile", "-png", kept, sheet}, &code);
    ASSERT_EQ(code, 0);
    const QImage image(sheet + ".png");
    ASSERT_EQ(image.size(), QSize(612, 792));
    const struct {
        QPoint at;
        bool dark;
    } spots[] = {
        {{33, 396}, false}, {{39, 396}, true}, {{579, 396}, false}, {{573, 396}, true},
        {{306, 43}, false}, {{306, 50}, true}, {{306, 749}, false}, {{306, 742}, true},
    };
    for (const auto& spot : spots)
        EXPECT_EQ(image.pixelColor(spot.at).lightness() < 128, spot.dark) << spot.at.x() << "," << spot.at.y();
    // The spool file lay in the user's private work folder, and is gone once lp has it.
    const QString spool = given.last();
    EXPECT_EQ(QFileInfo(spool).absolutePath(), platform::PrivateFiles::PrivateWorkFolder::standard().path());
    EXPECT_TRUE(testsupport::waitFor([&] { return !QFileInfo::exists(spool); }));
}

TEST(Printing, TheCurrentPageChoicePrintsThePageBeingRead)
{
    Window window;
    QTemporaryDir dir;
    window.view()->goToPage(2);
    const QString path = dir.filePath("current.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPrintRange(QPrinter::CurrentPage);
    ASSERT_TRUE(quarn::printing::print(*window.view(), printer));
    ASSERT_TRUE(testsupport::waitFor([&] { return QFileInfo::exists(path); }));
    const Reading reading = readWithPoppler(path);
    EXPECT_EQ(reading.pages, 1);
    EXPECT_TRUE(reading.text.contains("Page 3")) << reading.text.toStdString();
}

// Print to a file through the print dialog: the dialog opens nothing at the
// name typed, and stays open on a name ravlen's writer would refuse, saying
// why (as Save As does): no regular file, another user's link, a folder that
// is not there. A FIFO there held the whole program in the dialog's own open
// until someone opened its other end (here a helper, after five seconds);
// another user's dangling link in a shared folder made an empty file where
// it led. A refusal after the dialog (the name changed since) names its
// reason too. The link needs root to give away.
TEST(Printing, ToAFileTheDialogOpensNothingAndStaysOpenOnANameItCannotUse)
{
    constexpr uid_t stranger = 4242;
    enum Kind { fifo, foreignLink, noFolder };
    const struct {
        const char* what;
        Kind kind;
        const char* name; // in the shared folder
        QString reason;
    } cases[] = {
        {"a FIFO", fifo, "printed.pdf", "That name is not a file ravlen can write into."},
        {"another user's dangling link", foreignLink, "printed.pdf",
         "printed.pdf is a link another person made or could have put there, which leads to %1; ravlen doesn't save "
         "through it."},
        {"a folder that is not there", noFolder, "gone/printed.pdf", "The folder it would go in doesn't exist."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.kind == foreignLink && ::geteuid() != 0) continue;
        QTemporaryDir dir;
        const QString shared = dir.filePath("shared"), path = shared + '/' + c.name;
        const QString leadsTo = dir.filePath("elsewhere.pdf");
        const QString reason = c.kind == foreignLink ? c.reason.arg(leadsTo) : c.reason;
        ASSERT_TRUE(QDir().mkpath(shared));
        ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        if (c.kind == fifo) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
        } else if (c.kind == foreignLink) {
            ASSERT_TRUE(QFile::link(leadsTo, path));
            ASSERT_EQ(::lchown(QFile::encodeName(path).constData(), stranger, stranger), 0);
        }
        Window window;
        quarn::printing::printDocument(*window.view());
        auto* dialog = window.view()->findChild<QPrintDialog*>();
        ASSERT_TRUE(dialog && testsupport::waitFor([&] { return dialog->isVisible(); }));
        auto* printers = dialog->findChild<QComboBox*>(QStringLiteral("printers"));
        auto* fileName = dialog->findChild<QLineEdit*>(QStringLiteral("filename"));
        ASSERT_TRUE(printers && fileName);
        printers->setCurrentIndex(printers->count() - 1); // Print to File (PDF)
        ASSERT_TRUE(fileName->isEnabled());
        fileName->setText(path);

        std::atomic<bool> clicked = false, rescued = false;
        std::thread rescuer([&] {
            for (int waited = 0; waited < 30000 && !clicked; waited += 10) ::usleep(10000);
            if (clicked || c.kind != fifo) return;
            rescued = true;
            ::close(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK));
        });
        QTest::keyClick(dialog, Qt::Key_Return);
        clicked = true;
        rescuer.join();
        EXPECT_FALSE(rescued) << "Print waited on the FIFO";

        // The dialog says why and stays open; nothing was made anywhere.
        QMessageBox* said = nullptr;
        EXPECT_TRUE(testsupport::waitFor([&] {
            for (QMessageBox* box : dialog->findChildren<QMessageBox*>())
                if (box->isVisible() && box->text().contains(reason)) said = box;
            return said != nullptr;
        }));
        if (said) said->button(QMessageBox::Ok)->click();
        EXPECT_TRUE(dialog->isVisible());
        const auto madeNothing = [&] {
            EXPECT_FALSE(QFileInfo::exists(leadsTo));
            const QStringList left =
                QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            EXPECT_EQ(left, c.kind == noFolder ? QStringList() : QStringList{"printed.pdf"});
        };
        madeNothing();
        dialog->reject();

        // Printed to that name all the same (it changed after the dialog), the
        // refusal names its reason.
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFileName(path);
        ASSERT_TRUE(quarn::printing::print(*window.view(), printer));
        EXPECT_TRUE(testsupport::waitFor(
            [&] {
                // Over the window the view is in.
                const auto boxes = window.view()->window()->findChildren<QMessageBox*>();
                return std::any_of(boxes.begin(), boxes.end(), [&](QMessageBox* box) {
                    return box->isVisible() && box->text() == QMessageBox::tr("ravlen couldn't finish that.")
                           && box->informativeText() == "The document could not be printed. " + reason;
                });
            },
            10000));
        madeNothing();
    }
}

// Return in the file field prints, as the default button drawn says, also
// while the names completing what was typed are listed under it.
TEST(Printing, ReturnInTheFileFieldPrints)
{
    QTemporaryDir dir;
    testsupport::writeFile(dir, "printed.pdf.old", "old"); // offered as the name is typed
    Window window;
    quarn::printing::printDocument(*window.view());
    QPointer<QPrintDialog> dialog = window.view()->findChild<QPrintDialog*>();
    ASSERT_TRUE(dialog && testsupport::waitFor([&] { return QApplication::activeWindow() == dialog; }));
    auto* printers = dialog->findChild<QComboBox*>(QStringLiteral("printers"));
    auto* fileName = dialog->findChild<QLineEdit*>(QStringLiteral("filename"));
    ASSERT_TRUE(printers && fileName && fileName->completer());
    printers->setCurrentIndex(printers->count() - 1);                    // Print to File (PDF)
    QTest::keyClick(dialog->windowHandle(), Qt::Key_F, Qt::AltModifier); // "Output file"
    ASSERT_TRUE(fileName->hasFocus());
    QTest::keyClick(dialog->windowHandle(), Qt::Key_A, Qt::ControlModifier);
    for (const QChar c : dir.filePath("printed.pdf")) QTest::keyClick(dialog->windowHandle(), c.toLatin1());
    ASSERT_TRUE(testsupport::waitFor([&] { return fileName->completer()->popup()->isVisible(); }));
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
    EXPECT_TRUE(
        testsupport::waitFor([&] { return testsupport::readFile(dir.filePath("printed.pdf")).startsWith("%PDF"); }));
    EXPECT_TRUE(!dialog || !dialog->isVisible());
}
