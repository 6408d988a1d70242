// ravlen-smaller-pdf-bench [FILE.pdf …]
//
// Smaller PDF: the size ravlen's export writes for every page of each file,
// beside `qpdf --recompress-flate --object-streams=generate` and
// `gs -sDEVICE=pdfwrite -dPDFSETTINGS=/ebook`, in the same run. A tool that
// is not installed (or fails) gets a "skipped" row. Without FILE the corpus's
// GeoTopo-komprimiert.pdf and base64image.pdf are measured.
#include "Platform/PdfDocument.h"
#include "QuarnKit/Export/ExportJob.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

struct Row {
    qint64 bytes = -1; // -1: skipped
    double seconds = 0;
};

Row ravlen(const QString& file, const QString& out)
{
    QElapsedTimer clock;
    clock.start();
    try {
        const auto doc = platform::PdfDocument::openFile(file.toStdString());
        quarnkit::ExportSettings settings;
        settings.format = quarnkit::ExportFormat::smallerPDF;
        settings.baseName = "Bench";
        for (int i = 0; i < doc->pageCount(); ++i) settings.pages.push_back(i);
        quarnkit::ExportJob::run(settings, doc, out, {});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ravlen: %s\n", error.what());
        return {};
    }
    return {QFileInfo(out).size(), clock.nsecsElapsed() / 1e9};
}

Row tool(const QString& program, const QStringList& arguments, const QString& out)
{
    if (QStandardPaths::findExecutable(program).isEmpty()) return {};
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return {};
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
        for (const char* name : {"GeoTopo-komprimiert.pdf", "base64image.pdf"})
            files << QString(RAVLEN_CORPUS_DIR) + "/" + name;
    QTemporaryDir scratch;
    for (const QString& file : files) {
        const qint64 original = QFileInfo(file).size();
        std::printf("%s: %lld bytes\n", qPrintable(QFileInfo(file).fileName()), static_cast<long long>(original));
        const QString ours = scratch.filePath("ravlen.pdf");
        const QString qpdfOut = scratch.filePath("qpdf.pdf");
        const QString gsOut = scratch.filePath("gs.pdf");
        print("ravlen", ravlen(file, ours), original);
        print("qpdf", tool("qpdf", {"--recompress-flate", "--object-streams=generate", file, qpdfOut}, qpdfOut), original);
        print("gs", tool("gs", {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite", "-dPDFSETTINGS=/ebook",
                                "-sOutputFile=" + gsOut, file}, gsOut), original);
        for (const QString& out : {ours, qpdfOut, gsOut}) QFile::remove(out);
    }
    return 0;
}
