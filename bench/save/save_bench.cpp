// ravlen-save-bench [--runs R] [--pages N] [FILE.pdf]
//
// The cost of reading a saved file back (PdfReadBack.h): a long document,
// with a mark on its first page, saved over and over as the window saves it,
// in turns with and without the read-back, in the same run. Prints the
// medians and `save-readback ratio R` (with ÷ without: at most 1.33 is the
// budget). The same pages as another program writes them (qpdf, its objects
// packed into object streams), whose every object the read-back must read,
// give `save-readback-foreign ratio R`. The read-back holds each stream's
// data against the engine's where the copy does not store it as the file
// did, and reads what the change wrote whatever its bytes; it needs no
// comparison of the whole file.
//
// Without FILE, or when FILE does not exist yet, a document of N pages
// (5,000) is built there from the corpus by ravlen-makebig.
#include "Platform/PdfAnnotations.h"
#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Saves `path`'s document into `out` `runs` times each way, in turns; prints
// the medians and the ratio under `name`. False when a save fails.
bool timeSaves(const QString& path, const QString& out, int runs, const char* name)
{
    std::shared_ptr<platform::PdfDocument> doc;
    try {
        doc = platform::PdfDocument::openFile(QFile::encodeName(path).toStdString());
        doc->settle(1 << 30); // read whole first, as the window does on a worker
        platform::PdfAnnotation square;
        square.subtype = "Square";
        square.rect = {40, 40, 100, 100};
        square.color = platform::PdfColor{1, 0, 0};
        platform::PdfAnnotations::add(*doc, 0, square);
    } catch (const platform::PdfError& e) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), e.what());
        return false;
    }
    std::vector<double> with, without;
    for (int run = 0; run < runs; ++run) {
        for (const bool readBack : {false, true}) {
            platform::PdfSaveOptions options;
            options.garbageCollect = true; // as the window saves
            options.readBack = readBack;
            QElapsedTimer timer;
            timer.start();
            try {
                doc->saveToFile(*platform::ChosenFile::ask(QFile::encodeName(out).toStdString(),
                                                           [](const platform::NameSeen&) { return true; }),
                                options);
            } catch (const platform::PdfError& e) {
                std::fprintf(stderr, "saving %s: %s\n", qPrintable(path), e.what());
                return false;
            }
            (readBack ? with : without).push_back(double(timer.nsecsElapsed()) / 1e6);
        }
    }
    const double a = median(with), b = median(without);
    std::printf("%s: %d pages, %.1f MB; save with the read-back %.0f ms, without %.0f ms (medians of %d)\n", name,
                doc->pageCount(), double(QFileInfo(path).size()) / 1e6, a, b, runs);
    std::printf("%s ratio %.2f\n", name, a / b);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5, pages = 5000;
    QString path;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--pages") && i + 1 < argc) pages = std::atoi(argv[++i]);
        else path = QString::fromLocal8Bit(argv[i]);
    }
    QTemporaryDir scratch;
    if (path.isEmpty()) path = QDir(scratch.path()).filePath(QStringLiteral("long.pdf"));
    if (!QFileInfo::exists(path)) {
        std::printf("building a %d-page document from the corpus…\n", pages);
        if (QProcess::execute(QStringLiteral(RAVLEN_MAKEBIG),
                              {QString::number(pages), path, QStringLiteral(RAVLEN_CORPUS_DIR)})
            != 0)
            return 1;
    }
    const QString out = QDir(scratch.path()).filePath(QStringLiteral("saved.pdf"));
    if (!timeSaves(path, out, runs, "save-readback")) return 1;
    const QString foreign = QDir(scratch.path()).filePath(QStringLiteral("foreign.pdf"));
    if (QProcess::execute(QStringLiteral("qpdf"), {QStringLiteral("--object-streams=generate"), path, foreign}) != 0) {
        std::printf("save-readback-foreign skipped: qpdf could not rewrite the file\n");
        return 0;
    }
    return timeSaves(foreign, out, runs, "save-readback-foreign") ? 0 : 1;
}
