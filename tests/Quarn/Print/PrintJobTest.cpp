#include "Quarn/App/PageViewHost.h"
#include "Quarn/Print/PrintJob.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "Platform/PrivateFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QTest>

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
