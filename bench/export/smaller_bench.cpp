// ravlen-smaller-pdf-bench [FILE.pdf …]
//
// Smaller PDF: the size ravlen's export writes for every page of each file,
// beside `qpdf --recompress-flate --object-streams=generate` and
// `gs -sDEVICE=pdfwrite -dPDFSETTINGS=/ebook`, in the same run. A tool that
// is not installed (or fails) gets a "skipped" row. Without FILE every PDF of
// the corpus is measured (but those that need a password). The line
// "smaller-pdf-size ratio R" gives the largest over the files of ravlen's
// size ÷ qpdf's. Each file's Flattened PDF of every page is measured too, its
// pages drawn anew with what they share kept once: "flattened-size ratio R"
// is the largest flattened size ÷ the file's over the files without marks
// (1.3 at most is the budget), whose pages have nothing more to draw.
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfDocument.h"
#include "QuarnKit/Export/ExportJob.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

struct Row {
    qint64 bytes = -1; // -1: skipped
    double seconds = 0;
};

// The pages of a file as MuPDF reads them; -1 when it does not open.
int pagesOf(const QString& file)
{
    try {
        return platform::PdfDocument::openFile(file.toStdString())->pageCount();
    } catch (const std::exception&) {
        return -1;
    }
}

// Whether a page of the file has a mark or field to draw into a flattened
// copy (links and popups are not drawn); true when one cannot be read.
bool hasMarks(const QString& file)
{
    try {
        const auto doc = platform::PdfDocument::openFile(file.toStdString());
        for (int page = 0; page < doc->pageCount(); ++page)
            for (const platform::PdfAnnotation& mark : platform::PdfAnnotations::list(*doc, page))
                if (mark.subtype != "Link" && mark.subtype != "Popup") return true;
        return false;
    } catch (const std::exception&) {
        return true;
    }
}

Row ravlen(const QString& file, const QString& out, quarnkit::ExportFormat format = quarnkit::ExportFormat::smallerPDF)
{
    QElapsedTimer clock;
    clock.start();
    try {
        const auto doc = platform::PdfDocument::openFile(file.toStdString());
        quarnkit::ExportSettings settings;
        settings.format = format;
        settings.baseName = "Bench";
        for (int i = 0; i < doc->pageCount(); ++i) settings.pages.push_back(i);
        quarnkit::ExportJob::run(
            settings, doc,
            *quarnkit::ExportDestination::choose(settings, out, [](const QString&, const QString&) { return true; }),
            {});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ravlen: %s\n", error.what());
        return {};
    }
    return {QFileInfo(out).size(), clock.nsecsElapsed() / 1e9};
}

// qpdf's exit code 3 means written, with warnings about the input.
Row tool(const QString& program, const QStringList& arguments, const QString& out, int alsoSuccess = 0)
{
    if (QStandardPaths::findExecutable(program).isEmpty()) return {};
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) return {};
    if (process.exitCode() != 0 && (alsoSuccess == 0 || process.exitCode() != alsoSuccess)) return {};
    return {QFileInfo(out).size(), clock.nsecsElapsed() / 1e9};
}

void print(const char* name, const Row& row, qint64 original)
{
    if (row.bytes < 0) {
        std::printf("  %-6s skipped (not installed or failed)\n", name);
        return;
    }
    std::printf("  %-6s %10lld bytes  %5.1f %% of the original  %6.2f s\n", name, static_cast<long long>(row.bytes),
                100.0 * double(row.bytes) / double(original), row.seconds);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    if (files.isEmpty())
        for (const QFileInfo& info :
             QDir(QStringLiteral(RAVLEN_CORPUS_DIR)).entryInfoList({"*.pdf"}, QDir::Files, QDir::Name))
            files << info.absoluteFilePath();
    QTemporaryDir scratch;
    double largest = 0, largestFlattened = 0;
    QString largestFile, largestFlattenedFile;
    for (const QString& file : files) {
        const int pages = pagesOf(file);
        if (pages <= 0) {
            std::printf("%s: does not open or needs a password, left out\n", qPrintable(QFileInfo(file).fileName()));
            continue;
        }
        const qint64 original = QFileInfo(file).size();
        std::printf("%s: %lld bytes\n", qPrintable(QFileInfo(file).fileName()), static_cast<long long>(original));
        const QString ours = scratch.filePath("ravlen.pdf");
        const QString qpdfOut = scratch.filePath("qpdf.pdf");
        const QString gsOut = scratch.filePath("gs.pdf");
        const Row r = ravlen(file, ours);
        const Row q = tool("qpdf", {"--recompress-flate", "--object-streams=generate", file, qpdfOut}, qpdfOut, 3);
        print("ravlen", r, original);
        print("qpdf", q, original);
        print("gs",
              tool("gs",
                   {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite", "-dPDFSETTINGS=/ebook",
                    "-sOutputFile=" + gsOut, file},
                   gsOut),
              original);
        // A damaged file that qpdf "recovers" into fewer pages is no comparison.
        if (q.bytes > 0 && pagesOf(qpdfOut) != pages) {
            std::printf("  qpdf kept %d of the %d pages: left out of the ratio\n", std::max(0, pagesOf(qpdfOut)),
                        pages);
        } else if (r.bytes > 0 && q.bytes > 0) {
            const double ratio = double(r.bytes) / double(q.bytes);
            std::printf("  ravlen / qpdf: %.4f\n", ratio);
            if (ratio > largest) {
                largest = ratio;
                largestFile = QFileInfo(file).fileName();
            }
        }
        const QString flatOut = scratch.filePath("flattened.pdf");
        const Row flat = ravlen(file, flatOut, quarnkit::ExportFormat::flattenedPDF);
        print("flat", flat, original);
        if (flat.bytes > 0 && !hasMarks(file)) {
            const double ratio = double(flat.bytes) / double(original);
            if (ratio > largestFlattened) {
                largestFlattened = ratio;
                largestFlattenedFile = QFileInfo(file).fileName();
            }
        } else if (flat.bytes > 0) {
            std::printf("  flat: marks drawn in, left out of the ratio\n");
        }
        for (const QString& out : {ours, qpdfOut, gsOut, flatOut}) QFile::remove(out);
    }
    if (largest > 0) {
        std::printf("smaller-pdf-size: the largest ravlen / qpdf is %s's\n", qPrintable(largestFile));
        std::printf("smaller-pdf-size ratio %.4f\n", largest);
    }
    if (largestFlattened > 0) {
        std::printf("flattened-size: the largest flattened / original without marks is %s's\n",
                    qPrintable(largestFlattenedFile));
        std::printf("flattened-size ratio %.4f\n", largestFlattened);
    }
    return 0;
}
